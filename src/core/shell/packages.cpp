#include "shell/packages.h"

#include "shell/controls.h"

namespace {

std::array<PackageInfo, kPackageCount> makeTable() {
  return {{
      {PackageId::Server,
       "三端",
       "server",
       "三端",
       "三端.zip",
       "Velmar三端",
       control::按钮_下载三端,
       control::按钮_安装三端,
       control::标签1,
       control::编辑框_三端目录,
       "三端下载地址为空",
       "正在下载三端文件:",
       "三端MD5 错误",
       "解压三端.zip 失败",
       {"/mir200/", "/SelGate/", "/Velmar引擎控制台"},
       true,
       {"M2LinkerX86.dll", "QZVM2PlusLoad.dll"}},
      {PackageId::Plugin,
       "功能",
       "plugin",
       "功能",
       "功能.zip",
       "功能插件",
       control::按钮_下载功能,
       control::按钮_安装功能,
       control::标签2,
       control::编辑框_功能目录,
       "功能下载地址为空",
       "正在下载功能文件:",
       "功能插件MD5 错误",
       "解压功能.zip 失败",
       {"/DBServer/", "/LoginGate/", "/Mir200/", "/Orvanta引擎控制器", "/qzvkz"},
       false,
       {"QZVM2PlusLoad.dll"}},
      {PackageId::AntiCheat,
       "反挂",
       "anticheat",
       "反挂",
       "反挂.zip",
       "反挂插件",
       control::按钮_下载反挂,
       control::按钮_安装反挂,
       control::标签3,
       control::编辑框_反挂目录,
       "反挂下载地址为空",
       "正在下载反挂文件:",
       "反挂插件MD5 错误",
       "解压 反挂.zip 失败",
       {"/RunGate/"},
       false,
       {}},
      {PackageId::Tools,
       "工具",
       "tools",
       "其他",
       "工具.zip",
       "其他工具",
       control::按钮_下载工具,
       control::按钮_工具安装,
       control::标签5,
       nullptr,
       "工具下载地址为空",
       "正在下载工具文件:",
       "工具MD5 错误",
       "解压 工具.zip 失败",
       {},
       false,
       {}},
  }};
}

}  // namespace

const std::array<PackageInfo, kPackageCount>& packageTable() {
  static const std::array<PackageInfo, kPackageCount> table = makeTable();
  return table;
}

const PackageInfo& packageInfo(PackageId id) {
  return packageTable()[indexOf(id)];
}

const PackageInfo* findPackage(std::string_view name) {
  for (const PackageInfo& package : packageTable()) {
    if (name == package.name || name == package.alias) return &package;
  }
  return nullptr;
}
