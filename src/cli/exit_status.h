#pragma once
// Exit statuses of the operator's commands by the class of a failure; the commands' help and
// the README list them.
#include "transfer/task_outcome.h"

inline constexpr int kExitComplete = 0;
inline constexpr int kExitOther = 1;
inline constexpr int kExitServerReply = 3;
inline constexpr int kExitNetwork = 4;
inline constexpr int kExitLocalFile = 5;
inline constexpr int kExitIntegrity = 6;
inline constexpr int kExitSecurity = 7;

// The status of a failure of this class; kExitOther for one of no particular class.
int exitStatusFor(FailureKind kind);
// check: the manifest was read and at least one package has a new release.
inline constexpr int kExitUpdatesAvailable = 100;
