// Service diagnostics: the enumerations translated on the way out and back
// (event types, message codes, trace levels), the two strings counted
// without their terminator, the event list's selectors and entries, system
// information and the probe file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/connected_test.h"
#include "support/sample_replies.h"

using qvtest::Count;
using qvtest::Text;

namespace {

using ServiceDiag = qvtest::ConnectedTest;

TEST_F(ServiceDiag, EventTypesAndMessageCodesTravelAsTheServicesCodes) {
    const struct {
        int32_t type;
        uint32_t wire;
    } types[] = {{1, 1}, {2, 2}, {4, 4}, {3, 255}, {0, 255}, {-1, 255}, {255, 255}};
    for (const auto& t : types) {
        ASSERT_EQ(qvWriteEventMessage(handle, t.type, 1, u"", 0, u""), 0u);
        EXPECT_EQ(svc.Last<WRITE_EVENT_MESSAGE>()->eventType, t.wire) << t.type;
    }
    // The ends of the service's code list and either side of it (qvctl's
    // events case writes one from its middle).
    for (const auto& [code, wire] :
         {std::pair{1, 0x400003E8u}, {9, 0xC0020003u}, {0, 0u}, {10, 0u}, {-1, 0u}}) {
        ASSERT_EQ(qvWriteEventMessage(handle, 4, code, u"", 0, u""), 0u);
        EXPECT_EQ(svc.Last<WRITE_EVENT_MESSAGE>()->messageCode, wire) << code;
    }
}

TEST_F(ServiceDiag, TheEventTextGoesWithoutItsTerminatorTheSubjectWithIt) {
    ASSERT_EQ(qvWriteEventMessage(handle, 2, 5, u"Harddisk1", 3, u"ab"), 0u);
    const auto req = svc.Last<WRITE_EVENT_MESSAGE>();
    EXPECT_EQ(std::tuple(req->token, Count(req->subjectName), Text(req->subjectName),
                         req->subjectNumber, Count(req->text), Text(req->text)),
              std::tuple(qvtest::ConnectedTest::kToken, 10u, u"Harddisk1", 3u, 2u, u"ab"));
    ASSERT_EQ(qvWriteEventMessage(handle, 2, 5, u"", 0, u""), 0u);
    EXPECT_EQ(std::tuple(Count(svc.Last<WRITE_EVENT_MESSAGE>()->subjectName),
                         Count(svc.Last<WRITE_EVENT_MESSAGE>()->text)),
              std::tuple(1u, 0u));
    // Both texts must be there.
    EXPECT_EQ(qvWriteEventMessage(handle, 2, 5, nullptr, 0, u""), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(qvWriteEventMessage(handle, 2, 5, u"", 0, nullptr), QV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(svc.Calls(WRITE_EVENT_MESSAGE), 2u);
}

TEST_F(ServiceDiag, TheSelectorDecidesWhatTheSubjectIs) {
    const uint32_t number = 42;
    const QV_OBJECT_ID object{u"Harddisk2", 5};
    const struct {
        uint32_t selector;
        const void* subject;
        uint32_t sel_number, name_number;
        const char16_t* name;
    } rows[] = {
        {16, &number, 42, 0, u""},
        {4, &object, 0, 5, u"Harddisk2"},
        {8, u"SQL Group", 0, 0, u"SQL Group"},
        // Any other selector never reads its subject, whatever it points at.
        {2, reinterpret_cast<const void*>(uintptr_t{1}), 0, 0, u""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.selector);
        const QV_EVENT_QUERY query{r.selector, 11, 12, r.subject, 21, 22, 23, 17};
        QV_EVENT_LIST list{};
        ASSERT_EQ(qvGetEventList(handle, &query, &list), 0u);
        const auto req = svc.Last<GET_EVENT_LIST>();
        EXPECT_EQ(std::tuple(req->selector, req->word1, req->word2, req->word7, req->token),
                  std::tuple(r.selector, 11u, 12u, 17u, qvtest::ConnectedTest::kToken));
        EXPECT_EQ(std::tuple(req->selNumber, req->selNameNumber, Text(req->selName)),
                  std::tuple(r.sel_number, r.name_number, std::u16string(r.name)));
        EXPECT_EQ(Count(req->selName), std::u16string(r.name).size());
        ASSERT_EQ(req->filters.filters_len, 1u);
        const RpcEventFilterItem& f = req->filters.filters_val[0];
        EXPECT_EQ(std::tuple(f.item1, f.item2, f.item3), std::tuple(21u, 22u, 23u));
        qvtest::ReleaseKept(qvFreeEventList, list);
    }
    QV_EVENT_LIST list{};
    const QV_EVENT_QUERY no_subject{8, 0, 0, nullptr, 0, 0, 0, 0};
    EXPECT_EQ(qvGetEventList(handle, &no_subject, &list), QV_STATUS_INVALID_PARAMETER);
}

RpcEventRecord Event(qvtest::Arena& w, uint32_t kind, std::u16string_view text) {
    return {10, 11, 12, 13, kind, 15, w.Text(u"subject"), 16,
            text.empty() ? RpcWString{} : w.Text(text)};
}

TEST_F(ServiceDiag, EntriesAreReorderedAndKeepOnlyWhatTheirKindNames) {
    qvtest::Arena w;
    RpcEventRecord events[] = {Event(w, 1, u"one"), Event(w, 2, u""), Event(w, 3, u"three")};
    const QV_EVENT_QUERY query{0, 0, 0, nullptr, 0, 0, 0, 0};
    svc.Answer<GET_EVENT_LIST>({0, 0, 3, {3, events}});
    QV_EVENT_LIST list{};
    ASSERT_EQ(qvGetEventList(handle, &query, &list), 0u);
    ASSERT_EQ(list.count, 3u);
    const QV_EVENT_ENTRY& object = list.events[0];
    EXPECT_EQ(std::tuple(object.word0, object.word2, object.word3, object.subjectKind,
                         std::u16string(object.subjectName), object.subjectNumber, object.word1,
                         std::u16string(object.text), object.word5),
              std::tuple(10u, 12u, 13u, 1u, u"subject", 16u, 11u, u"one", 15u));
    EXPECT_EQ(std::tuple(std::u16string(list.events[1].subjectName), list.events[1].subjectNumber,
                         list.events[1].text),
              std::tuple(u"subject", 0u, nullptr));
    EXPECT_EQ(std::tuple(list.events[2].subjectName, list.events[2].subjectNumber),
              std::tuple(nullptr, 0u));
    QV_EVENT_LIST* held = qvtest::ReleaseKept(qvFreeEventList, list);
    EXPECT_EQ(std::tuple(held, list.count, list.events), std::tuple(&list, 0u, nullptr));

    // The reply's count, never beyond the events it carries.
    const struct {
        u_int count, held, listed;
    } counts[] = {{1, 3, 1}, {9, 3, 3}, {0, 0, 0}};
    for (const auto& c : counts) {
        svc.Answer<GET_EVENT_LIST>({0, 0, c.count, {c.held, c.held == 0 ? nullptr : events}});
        ASSERT_EQ(qvGetEventList(handle, &query, &list), 0u);
        EXPECT_EQ(list.count, c.listed);
        qvtest::ReleaseKept(qvFreeEventList, list);
    }
}

TEST_F(ServiceDiag, TraceLevelsAreCumulativeMasksOfTheirFamily) {
    const struct {
        int32_t level;
        uint32_t mask;
    } sent[] = {{1, 0x20000001},          {3, 0x20000007},          {5, 0x2000001F},
                {0x10000001, 0x10000001}, {0x10000003, 0x10000007}, {0x10000005, 0x1000001F},
                {0, 0},                   {6, 0},                   {0x10000006, 0},
                {0x20000007, 0},          {-1, 0}};
    for (const auto& s : sent) {
        ASSERT_EQ(qvSetTraceLevel(handle, s.level), 0u);
        const auto req = svc.Last<SET_TRACE_LEVEL>();
        EXPECT_EQ(std::tuple(req->status, req->value, req->token),
                  std::tuple(0u, s.mask, qvtest::ConnectedTest::kToken))
            << s.level;
    }
    const struct {
        uint32_t mask, level;
    } read[] = {{0x20000007, 3},          {0x2000001F, 5}, {0x10000007, 0x10000003},
                {0x1000000F, 0x10000004}, {0x20000002, 0}, {0x30000007, 0},
                {0, 0},                   {0x0000001F, 0}};
    for (const auto& r : read) {
        svc.Answer<GET_TRACE_LEVEL>({0, r.mask, 0});
        uint32_t level = 0xDEAD;
        ASSERT_EQ(qvGetTraceLevel(handle, &level), 0u);
        EXPECT_EQ(level, r.level) << std::hex << r.mask;
    }
}

TEST_F(ServiceDiag, SystemInformationInTheCallersOrder) {
    QV_SYSTEM_INFO info{};
    qvtest::Arena w;
    svc.Answer<GET_SYSTEM_INFO>(
        {0, 1, 2, 3, w.Text(u"t1"), 4, 5, RpcWString{}, w.Text(u"t3"), w.Text(u""), 6, 7});
    ASSERT_EQ(qvGetSystemInfo(handle, &info), 0u);
    EXPECT_EQ(std::tuple(info.sysWord1, info.sysWord2, info.sysWord3, info.sysWord6,
                         info.sysWord7, info.sysWord4, info.sysWord5),
              std::tuple(1u, 2u, 3u, 6u, 7u, 4u, 5u));
    EXPECT_EQ(std::tuple(std::u16string(info.sysText1), std::u16string(info.sysText3),
                         info.sysText2, info.sysText4),
              std::tuple(u"t1", u"t3", nullptr, nullptr));
    QV_SYSTEM_INFO* held = qvtest::ReleaseKept(qvFreeSystemInfo, info);
    EXPECT_EQ(std::tuple(held, info.sysText1, info.sysText3), std::tuple(&info, nullptr, nullptr));
}

// Captures go into the test's own installation directory.
class Probe : public ServiceDiag {
  protected:
    std::filesystem::path File(const std::string& name) const { return trace.InstallDir() / name; }
    QV_STATUS Take(const std::string& name) {
        QV_PROBE_REQUEST request{};
        request.probeWord1 = request.probeWord4 = 0xFFFFFFFF;
        const std::string path = File(name).string();
        std::copy(path.begin(), path.end(), request.probeFile);
        return qvTakeProbe(handle, &request);
    }
    std::string Read(const std::string& name) const {
        if (!std::filesystem::exists(File(name))) return "<none>";
        const auto bytes = qvtest::TraceFixture::ReadBytes(File(name));
        return std::string(bytes.begin(), bytes.end());
    }
    void Write(const std::string& name, const std::string& content) const {
        qvtest::TraceFixture::WriteFile(File(name), content);
    }
};

TEST_F(Probe, WritesExactlyTheBytesReceivedOverAnyFile) {
    u_char bytes[] = {'q', 0, 0xFF, '\n', 'v'};
    Write("probe.tar", "an older and longer capture");
    svc.Answer<TAKE_PROBE>({0, {sizeof bytes, bytes}});
    ASSERT_EQ(Take("probe.tar"), 0u);
    EXPECT_EQ(Read("probe.tar"), std::string("q\0\xFF\nv", 5));
    // The request is always the same, whatever the caller's words hold.
    const auto req = svc.Last<TAKE_PROBE>();
    EXPECT_EQ(std::tuple(req->token, req->probeWord1, req->probeWord2, req->probeWord3,
                         req->probeWord4, Count(req->probeText), Text(req->probeText)),
              std::tuple(qvtest::ConnectedTest::kToken, 0u, 0u, 0u, 0u, 1u, u""));

    svc.Answer<TAKE_PROBE>({0, {}});
    ASSERT_EQ(Take("empty.tar"), 0u);
    EXPECT_EQ(Read("empty.tar"), "");
}

TEST_F(Probe, AFailureLeavesTheFileAlone) {
    Write("kept.tar", "earlier");
    svc.Answer<TAKE_PROBE>({0x6FFC0300, {}});
    EXPECT_EQ(Take("kept.tar"), 0x6FFC0300u);
    EXPECT_EQ(Take("new.tar"), 0x6FFC0300u);
    EXPECT_EQ(std::tuple(Read("kept.tar"), Read("new.tar")), std::tuple("earlier", "<none>"));
}

}  // namespace
