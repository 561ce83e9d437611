#include "network/sockets/libevent_socket_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "network/sockets/native_socket.h"
#include "support/event_loop_test_helpers.h"
#include "support/network_test_helpers.h"

namespace Orvan::Network {
namespace {

using OrvTest::TCapturedNetworkLog;

constexpr const char* kCertificateHint =
    "Couldn't read 'pkey' or 'cert' file.  To generate a key\n"
    "and self-signed certificate, run:\n"
    "  openssl genrsa -out pkey 2048\n"
    "  openssl req -new -key pkey -out cert.req\n"
    "  openssl x509 -req -days 365 -in cert.req -signkey pkey -out cert";

using LibEventManagerTest = OrvTest::TCertificateSuiteTest;

struct TWatchedEvent {
  int descriptor;
  short flags;
  void* argument;
};

std::vector<TWatchedEvent> WatchedEvents(const TSocketInterfaceManagerForLibEvent& manager) {
  std::vector<TWatchedEvent> found;
  event_base_foreach_event(
      manager.GetEventBase(),
      [](const event_base*, const event* watched, void* list) {
        static_cast<std::vector<TWatchedEvent>*>(list)->push_back(
            {static_cast<int>(event_get_fd(watched)), event_get_events(watched), event_get_callback_arg(watched)});
        return 0;
      },
      &found);
  return found;
}

void IgnoreEvent(evutil_socket_t, short, void*) {}

std::vector<std::string> ExpectedStartUpLines(const TSocketInterfaceManagerForLibEvent& manager) {
  std::vector<std::string> lines{std::string("Starting Libevent ") + event_get_version() + ".",
                                 "Available methods are : "};
  std::string methods;
  for (const char** name = event_get_supported_methods(); *name != nullptr; ++name) {
    methods += (methods.empty() ? "    " : "\n    ") + std::string(*name);
  }
  lines.push_back(methods);
  lines.push_back(std::string("Using Libevent with backend method ") + event_base_get_method(manager.GetEventBase()));
  const int features = event_base_get_features(manager.GetEventBase());
  if (features & EV_FEATURE_ET) lines.push_back("  Edge-triggered events are supported.");
  if (features & EV_FEATURE_O1) lines.push_back("  O(1) event notification is supported.");
  if (features & EV_FEATURE_FDS) lines.push_back("  All FD types are supported.");
  return lines;
}

TEST_F(LibEventManagerTest, StartUpLinesAndTheServerContextDependOnTheCertificateAndKey) {
  struct TCase {
    const char* name;
    bool certificate;
    bool key;
  };
  const TCase cases[] = {
      {"neither file", false, false},
      {"certificate only", true, false},
      {"key only", false, true},
      {"both files", true, true},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.name);
    std::filesystem::remove(kServerCertificateFile);
    std::filesystem::remove(kServerPrivateKeyFile);
    if (test.certificate) CopyCertificateFiles({kServerCertificateFile});
    if (test.key) CopyCertificateFiles({kServerPrivateKeyFile});

    TCapturedNetworkLog log;
    TSocketInterfaceManagerForLibEvent manager(true);
    const bool complete = test.certificate && test.key;
    EXPECT_EQ(manager.GetServerSslContext() != nullptr, complete);
    EXPECT_EQ(manager.GetClientSslContext(), nullptr);

    std::vector<std::string> expected;
    if (!complete) expected.push_back(kCertificateHint);
    for (const std::string& line : ExpectedStartUpLines(manager)) expected.push_back(line);
    EXPECT_EQ(TCapturedNetworkLog::Texts(), expected);
    if (!complete) {
      EXPECT_EQ(TCapturedNetworkLog::Lines().front().level, kNetworkLogError);
    }
    for (std::size_t i = complete ? 0 : 1; i < TCapturedNetworkLog::Lines().size(); ++i) {
      EXPECT_EQ(TCapturedNetworkLog::Lines()[i].level, kNetworkLogInformation);
    }
  }
}

TEST_F(LibEventManagerTest, ClientModeHasOnlyTheClientContextAndLooksForNoFiles) {
  TCapturedNetworkLog log;
  TSocketInterfaceManagerForLibEvent manager(false);
  EXPECT_NE(manager.GetClientSslContext(), nullptr);
  EXPECT_EQ(manager.GetServerSslContext(), nullptr);
  EXPECT_EQ(TCapturedNetworkLog::Texts(), ExpectedStartUpLines(manager));
}

TEST_F(LibEventManagerTest, RegistrationFlagsTimeOutsAndReplacement) {
  TCapturedNetworkLog log;
  TSocketInterfaceManagerForLibEvent manager(false);
  OrvTest::TSocketPair pair;
  TNativeSocket socket(pair.TakeFirst(), &manager);
  int first = 1;
  int second = 2;

  manager.SetCallbackForSocket(&socket, true, false, -1, &IgnoreEvent, &first);
  std::vector<TWatchedEvent> events = WatchedEvents(manager);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].descriptor, socket.GetDescriptor());
  EXPECT_EQ(events[0].flags, EV_READ | EV_PERSIST);
  EXPECT_EQ(events[0].argument, &first);

  // A second registration of the same socket replaces the first.
  manager.SetCallbackForSocket(&socket, true, true, 5, &IgnoreEvent, &second);
  events = WatchedEvents(manager);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].flags, EV_READ | EV_WRITE | EV_TIMEOUT | EV_PERSIST);
  EXPECT_EQ(events[0].argument, &second);

  manager.SetCallbackForSocket(&socket, false, true, 0, &IgnoreEvent, nullptr);
  events = WatchedEvents(manager);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].flags, EV_WRITE | EV_PERSIST);

  // A socket never registered is not the manager's business; closing a registered one frees its event.
  OrvTest::TSocketPair other;
  TNativeSocket unregistered(other.TakeFirst(), &manager);
  manager.RemoveSocket(&unregistered);
  EXPECT_EQ(WatchedEvents(manager).size(), 1u);
  socket.Close();
  EXPECT_TRUE(WatchedEvents(manager).empty());
}

TEST_F(LibEventManagerTest, AnInvalidSocketIsLoggedAndStillWatchedForItsTimeOut) {
  TCapturedNetworkLog log;
  TSocketInterfaceManagerForLibEvent manager(false);
  TNativeSocket closed(-1, &manager);
  TCapturedNetworkLog::Lines().clear();
  manager.SetCallbackForSocket(&closed, true, false, 30, &IgnoreEvent, nullptr);
  EXPECT_EQ(TCapturedNetworkLog::Texts(),
            std::vector<std::string>{
                "TSocketInterfaceManagerForLibEvent::SetCallbackForSocket() -> parSocket is not valid !"});
  EXPECT_GT(event_base_get_num_events(manager.GetEventBase(), EVENT_BASE_COUNT_ADDED), 0);
  manager.RemoveSocket(&closed);
  EXPECT_EQ(event_base_get_num_events(manager.GetEventBase(), EVENT_BASE_COUNT_ADDED), 0);
}

TEST_F(LibEventManagerTest, RunEventLoopDeliversEventsAndReturnsWhileEventsStayPending) {
  TCapturedNetworkLog log;
  TSocketInterfaceManagerForLibEvent manager(false);
  OrvTest::TSocketPair pair;
  TNativeSocket socket(pair.TakeFirst(), &manager);
  int readable = 0;
  manager.SetCallbackForSocket(
      &socket, true, false, -1,
      [](evutil_socket_t descriptor, short flags, void* count) {
        char byte;
        if ((flags & EV_READ) != 0 && ::read(descriptor, &byte, 1) == 1) ++*static_cast<int*>(count);
      },
      &readable);

  // Nothing to read: the persistent event stays pending and the slice still ends.
  manager.RunEventLoop(25);
  EXPECT_EQ(readable, 0);
  ASSERT_EQ(::write(pair.second, "x", 1), 1);
  EXPECT_TRUE(OrvTest::RunLoopUntil(manager, [&] { return readable == 1; }));
  manager.RunEventLoop(25);
  EXPECT_EQ(readable, 1);
  EXPECT_EQ(WatchedEvents(manager).size(), 1u);
  socket.Close();
}

TEST(LibEventManagerTimeval, MillisecondsAreSplitIntoSecondsAndMicroseconds) {
  struct TCase {
    std::uint32_t milliseconds;
    time_t seconds;
    suseconds_t microseconds;
  };
  const TCase cases[] = {
      {0, 0, 0}, {25, 0, 25000}, {999, 0, 999000}, {1000, 1, 0}, {1500, 1, 500000}, {4294967295u, 4294967, 295000},
  };
  for (const TCase& test : cases) {
    const timeval value = MillisecondsToTimeval(test.milliseconds);
    EXPECT_EQ(value.tv_sec, test.seconds) << test.milliseconds;
    EXPECT_EQ(value.tv_usec, test.microseconds) << test.milliseconds;
  }
}

}  // namespace
}  // namespace Orvan::Network
