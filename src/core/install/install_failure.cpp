#include "install/install_failure.h"

#include <cerrno>
#include <system_error>

namespace {

std::string reasonText(const InstallFailure& failure) {
  switch (failure.problem) {
    case InstallProblem::NoSpace:
      return std::generic_category().message(ENOSPC);
    case InstallProblem::ReadOnly:
      return "只读文件";
    case InstallProblem::NotAFile:
      return "不是普通文件";
    case InstallProblem::NotText:
      return "不是系统代码页的文本";
    case InstallProblem::Stopped:
      return "安装已停止";
    case InstallProblem::Cancelled:
      return "安装已取消";
    case InstallProblem::ArchiveDiffers:
      return "不是上次安装的压缩包";
    case InstallProblem::Unfinished:
      return "上次中断的安装未能恢复";
    case InstallProblem::SystemError:
      break;
  }
  return std::generic_category().message(failure.error);
}

}  // namespace

std::string describeInstallFailure(const InstallFailure& failure) {
  return failure.path + ": " + reasonText(failure);
}

InstallResult installFailed(InstallProblem problem, std::string path, int error) {
  return {InstallFailure{problem, std::move(path), error}};
}
