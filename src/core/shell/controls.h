#pragma once
// Names of the main window's controls, as the window template gives them. The core
// addresses controls only through these names (see window.h).

namespace control {
inline constexpr const char 选择夹1[] = "选择夹1";
inline constexpr const char 分组框1[] = "分组框1";
inline constexpr const char 编辑框_三端目录[] = "编辑框_三端目录";
inline constexpr const char 按钮_下载三端[] = "按钮_下载三端";
inline constexpr const char 按钮_安装三端[] = "按钮_安装三端";
inline constexpr const char 标签1[] = "标签1";
inline constexpr const char 分组框2[] = "分组框2";
inline constexpr const char 编辑框_功能目录[] = "编辑框_功能目录";
inline constexpr const char 按钮_下载功能[] = "按钮_下载功能";
inline constexpr const char 按钮_安装功能[] = "按钮_安装功能";
inline constexpr const char 标签2[] = "标签2";
inline constexpr const char 分组框3[] = "分组框3";
inline constexpr const char 编辑框_反挂目录[] = "编辑框_反挂目录";
inline constexpr const char 按钮_下载反挂[] = "按钮_下载反挂";
inline constexpr const char 按钮_安装反挂[] = "按钮_安装反挂";
inline constexpr const char 标签3[] = "标签3";
inline constexpr const char 分组框5[] = "分组框5";
inline constexpr const char 按钮_下载工具[] = "按钮_下载工具";
inline constexpr const char 按钮_工具安装[] = "按钮_工具安装";
inline constexpr const char 标签5[] = "标签5";
inline constexpr const char 按钮_检查更新[] = "按钮_检查更新";
inline constexpr const char 透明标签1[] = "透明标签1";
inline constexpr const char 时钟1[] = "时钟1";
inline constexpr const char ZIP压缩1[] = "ZIP压缩1";
inline constexpr const char 分组框4[] = "分组框4";
inline constexpr const char 选择框_检查更新[] = "选择框_检查更新";
inline constexpr const char 编辑框1[] = "编辑框1";
inline constexpr const char 标签4[] = "标签4";
inline constexpr const char 标签_提示内容[] = "标签_提示内容";
inline constexpr const char 进度条1[] = "进度条1";
inline constexpr const char 标签_每秒速度[] = "标签_每秒速度";
// Added to the template, each below its package's 安装 button: rollback of the last install.
inline constexpr const char 按钮_回滚三端[] = "按钮_回滚三端";
inline constexpr const char 按钮_回滚功能[] = "按钮_回滚功能";
inline constexpr const char 按钮_回滚反挂[] = "按钮_回滚反挂";
}  // namespace control
