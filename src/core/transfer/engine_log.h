#pragma once
// The engine's log lines: a level, a local-time text and a message, delivered by the task's
// controller thread to the log callback.
#include <cstdint>
#include <ctime>
#include <string>

#include "transfer/task_outcome.h"

class Worker;
struct TransferTask;

inline constexpr int32_t kLogProgress = 0;  // progress
inline constexpr int32_t kLogSent = 1;      // a request or command sent
inline constexpr int32_t kLogReceived = 2;  // text received
inline constexpr int32_t kLogError = 3;     // an error or notice
inline constexpr int32_t kLogNever = 4097;  // a level that is never delivered

// "%d年%d月%d日" then "%d时%d分%d秒" when the seconds are not zero, else "%d时%d分" when the
// minutes are not zero, else "%d时" when the hour is not zero, else nothing.
std::string logTimeText(const std::tm& local);
std::string currentLogTimeText();

// printf-style formatting into a string.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Queues a log line for the task's controller (any thread). Lines are dropped once the
// task's queue is closed, and when the task has no log callback. Every URL in a line or a
// failure loses its password (a server's Location may carry one), so no log shows it.
void engineLog(TransferTask& task, Worker* worker, int32_t level, std::string message);
// Logs an error (level 3) that ends or interrupts the worker's connection and keeps it as the
// worker's latest failure: when the worker ends with an error, the task's outcome names it.
// Worker thread only.
void engineFailure(Worker& worker, FailureKind kind, std::string message);
