#include "platform/debug_output.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/trace_fixture.h"

namespace {

using qvtest::TraceFixture;

std::string Datagram(std::u16string_view line, const qv::LocalTime& when, std::size_t capacity) {
    std::string out(capacity, '#');
    const std::size_t size =
        qv::debug_output::BuildDatagram(line, when, std::span<char>(out.data(), capacity));
    EXPECT_LE(size, capacity);
    return out.substr(0, size);
}

TEST(DebugOutput, DatagramHasTheSyslogForm) {
    // User facility, debug priority: <15>; the day is padded with a blank.
    EXPECT_EQ(Datagram(u"qvcliapi, Memory insufficient!\n\n", qvtest::kSampleTime, 4096),
              "<15>Mar  5 14:07:09 qvcliapi: qvcliapi, Memory insufficient!\n\n");
    EXPECT_EQ(Datagram(u"x", qv::LocalTime{2024, 12, 31, 23, 59, 58}, 4096),
              "<15>Dec 31 23:59:58 qvcliapi: x");
}

TEST(DebugOutput, TextIsUtf8WithUnpairedSurrogatesReplaced) {
    const char16_t line[] = {u'a', 0x00E9, 0xD83D, 0xDE00, u'b', 0xD800, u'c', 0xDC00};
    EXPECT_EQ(Datagram(std::u16string_view(line, std::size(line)), qvtest::kSampleTime, 4096),
              "<15>Mar  5 14:07:09 qvcliapi: a\xC3\xA9\xF0\x9F\x98\x80"
              "b\xEF\xBF\xBD"
              "c\xEF\xBF\xBD");
}

TEST(DebugOutput, TextTooLongForTheDatagramIsCut) {
    const std::string header = "<15>Mar  5 14:07:09 qvcliapi: ";
    const std::u16string line(100, u'z');
    const std::string datagram = Datagram(line, qvtest::kSampleTime, header.size() + 11);
    // Ten characters and the place of the terminator.
    EXPECT_EQ(datagram, header + std::string(10, 'z'));
    EXPECT_EQ(Datagram(line, qvtest::kSampleTime, 10), "");
}

TEST(DebugOutput, SendsOneDatagramPerLine) {
    TraceFixture trace;
    trace.SetClock(qvtest::kSampleTime);
    const std::string path = (trace.InstallDir() / "syslog.sock").string();
    const int listener = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);

    qv::debug_output::SendDatagram(path.c_str(), u"qvcliapi, first\n");
    qv::debug_output::SendDatagram(path.c_str(), u"qvcliapi, second\n");

    char buffer[256];
    ssize_t size = recv(listener, buffer, sizeof(buffer), MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, size > 0 ? size : 0),
              "<15>Mar  5 14:07:09 qvcliapi: qvcliapi, first\n");
    size = recv(listener, buffer, sizeof(buffer), MSG_DONTWAIT);
    EXPECT_EQ(std::string(buffer, size > 0 ? size : 0),
              "<15>Mar  5 14:07:09 qvcliapi: qvcliapi, second\n");
    close(listener);
}

}  // namespace
