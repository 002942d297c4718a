// aqled-tlsprobe: a fresh process that fetches one address after its file descriptors ran out
// and came back, the way the window's client would (certificates not verified, so that only
// the TLS library is at stake). Prints each attempt's outcome; the exit status is 0 when the
// fetch after the shortage succeeded.
//
//   aqled-tlsprobe URL [--cold]
//
// Without --cold the TLS backend is loaded first, as the window does at start-up.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <vector>

#include "stations/https_client.h"

namespace {

// The open-file limit of the probe: enough for Qt and the fetch, few enough to take them all.
constexpr rlim_t kDescriptorLimit = 256;

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: aqled-tlsprobe URL [--cold]\n");
    return 2;
  }
  const bool cold = argc > 2 && std::strcmp(argv[2], "--cold") == 0;
  if (!cold && !aqled::LoadTlsBackend()) {
    std::printf("no TLS backend\n");
    return 1;
  }
  aqled::HttpsClient client(5000);
  aqled::TlsTrust trust;
  trust.verify = false;
  client.SetTrust(trust);

  // Every descriptor taken: the fetch cannot even make its socket. A low limit keeps that few.
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur > kDescriptorLimit) {
    limit.rlim_cur = kDescriptorLimit;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  std::vector<int> taken;
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
  const aqled::HttpResponse during = client.Get(argv[1]);
  for (const int fd : taken) close(fd);
  std::printf("during the shortage (%zu descriptors taken): %s\n", taken.size(),
              during.ok ? "ok" : during.error.c_str());

  const aqled::HttpResponse after = client.Get(argv[1]);
  std::printf("after: %s\n", after.ok ? "ok" : after.error.c_str());
  return during.ok || !after.ok ? 1 : 0;
}
