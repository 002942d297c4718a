#include "share/open_files.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "share/limits.h"

namespace aqled {

long long OpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return -1;
  return static_cast<long long>(limit.rlim_cur);
}

long long RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);  // a refusal leaves the limit as it was
  }
  return OpenFileLimit();
}

DescriptorBudget DescriptorBudgetUnder(long long openFileLimit, std::size_t linkMaxConnections) {
  if (openFileLimit < 0) return {linkMaxConnections, kShareMaxConnections};
  DescriptorBudget budget;
  const long long forLink = std::max(1LL, openFileLimit - kDescriptorReserve);
  budget.linkConnections = std::min(linkMaxConnections, static_cast<std::size_t>(forLink));
  const long long forShare =
      (openFileLimit - kDescriptorReserve - static_cast<long long>(budget.linkConnections)) /
      static_cast<long long>(kShareDescriptorsPerConnection);
  budget.shareConnections =
      static_cast<unsigned>(std::clamp(forShare, 1LL, static_cast<long long>(kShareMaxConnections)));
  return budget;
}

Accepted AcceptWaiting(qintptr listeningDescriptor) {
  Accepted result;
  int fd = -1;
  do {
    fd = ::accept4(static_cast<int>(listeningDescriptor), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    result.outcome = Accepted::Outcome::kConnection;
    result.descriptor = fd;
    return result;
  }
  switch (errno) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      result.outcome = Accepted::Outcome::kNoneWaiting;
      break;
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
      result.outcome = Accepted::Outcome::kFailed;
      break;
    default:  // EMFILE, ENFILE, ENOBUFS, ENOMEM, or a listening socket that failed
      result.outcome = Accepted::Outcome::kCannotAccept;
      result.error = errno;
      break;
  }
  return result;
}

void CloseDescriptor(qintptr descriptor) {
  if (descriptor >= 0) ::close(static_cast<int>(descriptor));
}

}  // namespace aqled
