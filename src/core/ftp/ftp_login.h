#pragma once
// Opening a worker's control connection: connect, welcome reply, login.
#include <cstdint>
#include <string>

#include "ftp/ftp_control.h"
#include "ftp/ftp_settings.h"

// Connects worker.controlSocket to address:port with the task's connect timeout, waits for
// the welcome reply (220) and logs in with the settings' user name and password.
// kOpenReady; kOpenPermanent when stopped during the connect; kOpenTransient (logged) for a
// failed or timed-out connect, a missing welcome reply or a failed login.
int32_t openFtpControl(FtpControl& control, const FtpSettings& settings,
                       const std::string& address);

// USER, then PASS when asked for. True once logged in (230).
bool ftpLogin(FtpControl& control, const FtpSettings& settings);
