#pragma once
// Descriptors: the process's limit of open descriptors, which bounds how many connections the
// servers can hold, and taking connections off a listening socket in a way that tells "no
// descriptor left" apart (Qt's server retries that at once, for ever, at full CPU).

#include <QtGlobal>
#include <cstddef>

namespace aqled {

// Raises the soft limit of open descriptors to the hard limit; returns the soft limit in force
// afterwards, -1 when there is none or it cannot be read.
long long RaiseOpenFileLimit();

// The soft limit of open descriptors, -1 when there is none or it cannot be read.
long long OpenFileLimit();

// How many connections each server may hold so that, together with kDescriptorReserve, they
// stay within the open-file limit.
struct DescriptorBudget {
  std::size_t linkConnections = 0;
  unsigned shareConnections = 0;
};
// The budget under `openFileLimit` (-1: none): the reserve first, then the controller link up to
// `linkMaxConnections` (the card's own connection comes first), then the share server up to
// kShareMaxConnections at kShareDescriptorsPerConnection each; each server gets at least 1.
DescriptorBudget DescriptorBudgetUnder(long long openFileLimit, std::size_t linkMaxConnections);

// One attempt to take a waiting connection off a listening socket.
struct Accepted {
  enum class Outcome {
    kConnection,    // `descriptor` is the new connection's
    kNoneWaiting,   // nothing (more) is waiting
    kCannotAccept,  // a connection may wait but cannot be taken now: no descriptor (or memory)
                    // left, or the listening socket failed; `error` says which
    kFailed,        // this connection failed (reset before it was taken, say); try the next
  };
  Outcome outcome = Outcome::kNoneWaiting;
  qintptr descriptor = -1;
  int error = 0;  // the system's error number of kCannotAccept
};
Accepted AcceptWaiting(qintptr listeningDescriptor);

// Closes a descriptor taken by AcceptWaiting that is not handed to a socket object.
void CloseDescriptor(qintptr descriptor);

}  // namespace aqled
