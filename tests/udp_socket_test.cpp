// The UDP socket service over loopback: datagrams whole, the longer-than-
// the-buffer case, timeouts, address parsing and the failure seam.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/system_error.h"
#include "platform/udp_socket.h"

namespace {

using platform::CUdpSocket;
using platform::UdpFault;
using platform::UdpReceive;

struct FaultReset {
  ~FaultReset() { platform::SetUdpFault(UdpFault::kNone, 0); }
};

TEST(UdpSocket, ParsesOnlyDottedQuads) {
  std::uint32_t a = 0;
  EXPECT_TRUE(platform::ParseIpv4Address("127.0.0.1", &a));
  EXPECT_EQ(0x7F000001u, a);
  EXPECT_TRUE(platform::ParseIpv4Address("255.255.255.255", &a));
  EXPECT_EQ(0xFFFFFFFFu, a);
  EXPECT_TRUE(platform::ParseIpv4Address("0.0.0.0", &a));
  for (const char* bad : {"", "127.0.0", "127.0.0.1.", "127.0.0.1.1", "256.0.0.1", "1.2.3.0004",
                          " 1.2.3.4", "1.2.3.4 ", "-1.2.3.4", "localhost", "::1", "1..2.3"}) {
    EXPECT_FALSE(platform::ParseIpv4Address(bad, &a)) << bad;
  }
  EXPECT_FALSE(platform::ParseIpv4Address(nullptr, &a));
}

TEST(UdpSocket, DatagramsArriveWholeAndLongerOnesAreMarkedTruncated) {
  CUdpSocket receiver;
  ASSERT_TRUE(receiver.Bind("127.0.0.1", 0));
  ASSERT_NE(0, receiver.LocalPort());
  CUdpSocket sender;
  ASSERT_TRUE(sender.Bind("127.0.0.1", 0));

  char buffer[16];
  int size = -1;
  bool truncated = true;
  EXPECT_EQ(UdpReceive::kNothing, receiver.Receive(buffer, sizeof buffer, 0, &size, &truncated));

  const std::string line = "0,1,2\n";
  ASSERT_TRUE(
      sender.SendTo("127.0.0.1", receiver.LocalPort(), line.data(), static_cast<int>(line.size())));
  ASSERT_EQ(UdpReceive::kReceived,
            receiver.Receive(buffer, sizeof buffer, 2000, &size, &truncated));
  EXPECT_EQ(line, std::string(buffer, static_cast<std::size_t>(size)));
  EXPECT_FALSE(truncated);

  const std::string longer(40, 'x');
  ASSERT_TRUE(sender.SendTo("127.0.0.1", receiver.LocalPort(), longer.data(),
                            static_cast<int>(longer.size())));
  ASSERT_EQ(UdpReceive::kReceived,
            receiver.Receive(buffer, sizeof buffer, 2000, &size, &truncated));
  EXPECT_TRUE(truncated);
  EXPECT_LE(size, static_cast<int>(sizeof buffer));

  ASSERT_TRUE(sender.SendTo("127.0.0.1", receiver.LocalPort(), "", 0));
  ASSERT_EQ(UdpReceive::kReceived,
            receiver.Receive(buffer, sizeof buffer, 2000, &size, &truncated));
  EXPECT_EQ(0, size);
  EXPECT_FALSE(truncated);
}

TEST(UdpSocket, APortTakenOrAMalformedAddressIsRefusedWithTheSystemsReason) {
  CUdpSocket first;
  ASSERT_TRUE(first.Bind("127.0.0.1", 0));
  CUdpSocket second;
  EXPECT_FALSE(second.Bind("127.0.0.1", first.LocalPort()));
  EXPECT_NE(0, platform::LastSystemError());
  EXPECT_FALSE(second.IsOpen());
  EXPECT_FALSE(second.Bind("127.0.0.300", 5500));
  EXPECT_EQ(platform::UdpInvalidArgumentCode(), platform::LastSystemError());
  char text[256];
  platform::SystemErrorText(platform::LastSystemError(), text, sizeof text);
  EXPECT_GT(std::strlen(text), 0u);
}

TEST(UdpSocket, TheSeamFailsEachKindOfCallWithTheCodeGiven) {
  const FaultReset reset;
  const int code = platform::FileNotFoundCode();
  for (UdpFault fault : {UdpFault::kOpen, UdpFault::kBind}) {
    platform::SetUdpFault(fault, code);
    CUdpSocket s;
    EXPECT_FALSE(s.Bind("127.0.0.1", 0));
    EXPECT_EQ(code, platform::LastSystemError());
    EXPECT_FALSE(s.IsOpen());
  }
  platform::SetUdpFault(UdpFault::kNone, 0);
  CUdpSocket s;
  ASSERT_TRUE(s.Bind("127.0.0.1", 0));
  platform::SetUdpFault(UdpFault::kReceive, code);
  char buffer[8];
  int size = 0;
  bool truncated = false;
  EXPECT_EQ(UdpReceive::kFailed, s.Receive(buffer, sizeof buffer, 0, &size, &truncated));
  EXPECT_EQ(code, platform::LastSystemError());
  platform::SetUdpFault(UdpFault::kSend, code);
  EXPECT_FALSE(s.SendTo("127.0.0.1", s.LocalPort(), "x", 1));
  EXPECT_EQ(code, platform::LastSystemError());
}

}  // namespace
