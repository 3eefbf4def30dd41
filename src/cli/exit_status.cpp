#include "exit_status.h"

int exitStatusFor(FailureKind kind) {
  switch (kind) {
    case FailureKind::ServerReply:
      return kExitServerReply;
    case FailureKind::Network:
      return kExitNetwork;
    case FailureKind::LocalFile:
      return kExitLocalFile;
    case FailureKind::Integrity:
      return kExitIntegrity;
    case FailureKind::Security:
      return kExitSecurity;
    case FailureKind::None:
      break;
  }
  return kExitOther;
}
