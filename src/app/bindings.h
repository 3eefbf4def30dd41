#pragma once
// Bindings of the package buttons to the core's jobs, one file per subsystem.
class MainWindow;
struct Globals;

// Binds 按钮_下载三端, 按钮_下载功能, 按钮_下载反挂 and 按钮_下载工具.
void bindDownloadButtons(MainWindow& window, Globals& g);
// Binds 按钮_安装三端, 按钮_安装功能, 按钮_安装反挂 and 按钮_工具安装.
void bindInstallButtons(MainWindow& window, Globals& g);
