// The rules every exported function shares, tested once over the table of
// exported functions (src/exports.def): the table against the header, the
// handle check, null pointers, releases of null, the object reference and
// the token on the wire, silence when all goes well, the service's word and
// the error line, transport faults, every sample reply accepted, lack of
// memory at every allocation, and hostile replies. What a
// failure leaves in the caller's output is the row's Output column, what
// the function returns its Answer column.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "connection/handle.h"
#include "platform/alloc.h"
#include "support/connected_test.h"
#include "support/function_table.h"
#include "support/memory_client.h"
#include "support/sample_replies.h"

using qvtest::Bytes;
using qvtest::Fault;
using qvtest::Outputs;
using qvtest::RemoteFunction;
using Lines = std::vector<std::u16string>;

namespace {

constexpr uint32_t kToken = qvtest::ConnectedTest::kToken;

std::u16string Hex8(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return std::u16string(text, text + 8);
}

// The row's error line for `status`.
std::u16string ErrorLine(const qv::Row& row, uint32_t status) {
    std::u16string line = row.error_line;
    line.replace(line.find(u"%08X"), 4, Hex8(status));
    return line;
}

// The lines a call that failed with `status` writes: the rpc-call-error line
// for a transport failure (client status `client`, 0 for none), then the
// row's line as its LogOn says.
Lines FailureLines(const qv::Row& row, uint32_t status, uint32_t client, uint32_t word) {
    Lines lines;
    if (client != 0) {
        lines.push_back(u"Error, rpc call error, client status[" + Hex8(client) + u"]");
    }
    if (row.log_on == qv::LogOn::kWordOnFailure) {
        lines.push_back(ErrorLine(row, word));
        return lines;
    }
    const uint32_t logged = row.log_on == qv::LogOn::kMappedStatus  ? status
                            : row.log_on == qv::LogOn::kServiceWord ? word
                                                                    : 0;
    if (logged != 0 && row.error_line != nullptr) lines.push_back(ErrorLine(row, logged));
    return lines;
}

// The lines a call wrote end with `tail`: a function that acts on this
// machine before it calls writes what the local step did first.
::testing::AssertionResult EndsWith(const Lines& lines, const Lines& tail) {
    if (lines.size() >= tail.size() &&
        std::equal(tail.begin(), tail.end(), lines.end() - static_cast<std::ptrdiff_t>(tail.size()))) {
        return ::testing::AssertionSuccess();
    }
    auto failure = ::testing::AssertionFailure() << "the lines end otherwise:";
    for (const auto& line : lines) failure << "\n  " << std::string(line.begin(), line.end());
    return failure;
}


// Whether `returned` is the answer of a call that succeeded (a value word
// may be anything).
bool Succeeded(const qv::Row& row, QV_STATUS returned) {
    return row.answer == qv::Answer::kValue || returned == qv::Answered(row, 0, 0);
}

// The procedures a call makes: a configuration edit reads, then writes back.
std::vector<unsigned> Procedures(const qv::Row& row) {
    if (row.shape == qv::Shape::kConfigEdit) return {row.procedure, CHANGE_MIRROR_CONFIG};
    return {row.procedure};
}

// What a failure leaves in the outputs, by the row's Output column.
Outputs AfterFailure(const qv::Row& row) {
    switch (row.output) {
        case qv::Output::kCleared:
        case qv::Output::kClearedFirst:
        case qv::Output::kKeptOnConversion:
            return Outputs::kZero;
        case qv::Output::kUntouched:
        case qv::Output::kPartial:
            return Outputs::kUnchanged;
        case qv::Output::kNone:
            break;
    }
    return Outputs::kNone;
}

// What running out of memory may leave.
bool AfterNoMemory(const qv::Row& row, Outputs outputs) {
    switch (row.output) {
        case qv::Output::kPartial:
            return outputs == Outputs::kUnchanged || outputs == Outputs::kWritten;
        case qv::Output::kKeptOnConversion:
            return outputs != Outputs::kNone;
        default:
            return outputs == AfterFailure(row);
    }
}

// ---- the table itself -------------------------------------------------------

// Every function the public header declares is a row, and every row is
// declared (the table's C++ takes each row's address).
TEST(FunctionTable, CoversEveryDeclaredFunction) {
    std::ifstream in(QV_TEST_SOURCE_DIR "/include/qvcliapi.h");
    std::stringstream header;
    header << in.rdbuf();
    const std::string text = header.str();
    std::set<std::string> declared;
    const std::regex declaration(R"(QV_API[^;(]*\b(qv[A-Za-z0-9]+)\s*\()");
    for (auto m = std::sregex_iterator(text.begin(), text.end(), declaration);
         m != std::sregex_iterator(); ++m) {
        declared.insert((*m)[1]);
    }
    std::set<std::string> tabled;
    for (std::string_view name : qvtest::ExportedNames()) tabled.emplace(name);
    EXPECT_EQ(tabled, declared);
    EXPECT_EQ(tabled.size(), qvtest::ExportedNames().size()) << "a name twice";
}

// Every procedure the library calls has sample replies: the fuzzers start
// from them and the sweeps below walk them.
TEST(FunctionTable, EveryCalledProcedureHasSampleReplies) {
    for (const qvtest::CalledProcedure& called : qvtest::CalledProcedures()) {
        EXPECT_FALSE(qvtest::SampleReplies(called.procedure).empty())
            << qv::wire::ProcTable(called.procedure).res_name << " of "
            << qv::wire::ProcTable(called.procedure).name << " has no sample reply";
    }
}

TEST(FunctionTable, ReleasesAcceptNull) {
    for (const qvtest::ReleaseFunction& release : qvtest::ReleaseFunctions()) {
        EXPECT_TRUE(release.accepts_null()) << release.name;
    }
}

// Each function's lines as tests/connection/error_lines.txt keeps them, word
// for word: a line of the table changes there on purpose, never by accident.
TEST(FunctionTable, LinesAreKeptWordForWord) {
    std::map<std::string, std::string> kept;
    std::ifstream file(QV_TEST_SOURCE_DIR "/tests/connection/error_lines.txt");
    for (std::string line; std::getline(file, line);) {
        if (!line.starts_with('#')) kept[line.substr(0, line.find('\t'))] = line;
    }
    const auto text = [](const char16_t* line) {
        if (line == nullptr) return std::string("-");
        return std::string(line, line + std::char_traits<char16_t>::length(line));
    };
    for (const RemoteFunction& f : qvtest::RemoteFunctions()) {
        const qv::NoMemoryLine& no_memory = f.row->no_memory;
        EXPECT_EQ(std::string(f.name()) + '\t' +
                      (no_memory.error_line ? "kErrorLine" : text(no_memory.text)) + '\t' +
                      text(f.row->error_line),
                  kept[f.name()]);
    }
    EXPECT_EQ(kept.size(), qvtest::RemoteFunctions().size());
}

// ---- every remote function --------------------------------------------------

class EveryFunction : public ::testing::TestWithParam<RemoteFunction> {
  protected:
    qvtest::TraceFixture trace;
    const RemoteFunction& f = GetParam();
    const qv::Row& row = *f.row;
};

class OnTheService : public qvtest::ConnectedTest,
                     public ::testing::WithParamInterface<RemoteFunction> {
  protected:
    const RemoteFunction& f = GetParam();
    const qv::Row& row = *f.row;

    // How long the handle waits for a reply: a stalled one is given up on
    // soon, while every other call has time to spare on a busy machine.
    void WaitAtMost(long microseconds) {
        timeval timeout{microseconds / 1000000, microseconds % 1000000};
        clnt_control(qv::GetRpcClient(handle), CLSET_TIMEOUT, reinterpret_cast<char*>(&timeout));
    }
    void SetUp() override {
        ConnectedTest::SetUp();
        WaitAtMost(5000000);
    }
};

// Returned at once: no output touched, nothing logged, nothing sent.
TEST_P(OnTheService, InvalidHandleTouchesNothing) {
    QV_CLIENT_HANDLE without_client{kToken, nullptr};
    for (QV_HANDLE invalid : {static_cast<QV_HANDLE>(nullptr), &without_client}) {
        const qvtest::CallResult r = f.call(invalid, {});
        EXPECT_EQ(r.status, QV_STATUS_NO_HANDLE);
        EXPECT_TRUE(row.output == qv::Output::kClearedFirst
                        ? r.outputs == Outputs::kZero
                        : r.outputs != Outputs::kZero && r.outputs != Outputs::kWritten);
        for (int i = 0; i < f.pointers; ++i) {
            EXPECT_EQ(f.call(invalid, {.null_at = i}).status, QV_STATUS_NO_HANDLE);
        }
    }
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(trace.DebugLines().empty());
    EXPECT_EQ(svc.TotalCalls(), 0u);
}

TEST_P(OnTheService, NullPointersAreRefusedBeforeSending) {
    for (int i = 0; i < f.pointers; ++i) {
        EXPECT_EQ(f.call(handle, {.null_at = i}).status, QV_STATUS_INVALID_PARAMETER) << i;
    }
    EXPECT_EQ(svc.TotalCalls(), 0u);
    EXPECT_TRUE(trace.Lines().empty());
}

// The request carries the login token (none where the row says the token
// field goes as 0), and the object as a reference: kind 0, the name with its
// terminator, the number, then the token when the reference is the whole
// request and 0 when it is nested in a record with a token of its own.
TEST_P(OnTheService, SendsItsProcedureWithTheObjectAndTheToken) {
    EXPECT_TRUE(Succeeded(row, f(handle)));
    EXPECT_EQ(svc.CallOrder(), Procedures(row));
    // A call that went well writes nothing, but for the progress readers'
    // figures and the local steps of network boot.
    const bool reports = std::string_view(f.name()).ends_with("Progress");
    EXPECT_TRUE(reports || std::string_view(f.family) == "netboot" || trace.Lines().empty());
    const Bytes request = svc.LastBytes(row.procedure);
    const auto has = [&](const auto& record, auto filter) {
        const Bytes part = qvtest::Encode(reinterpret_cast<xdrproc_t>(filter), &record);
        return std::search(request.begin(), request.end(), part.begin(), part.end()) !=
               request.end();
    };
    // A procedure without an argument carries nothing, the token neither.
    const bool takes_nothing =
        std::string_view(qv::wire::ProcTable(row.procedure).arg_name) == "void";
    EXPECT_EQ(has(kToken, xdr_u_int), row.token == qv::Token::kLoginToken && !takes_nothing);
    // The status record that asks with nothing but the token: 0, 0, token.
    if ((row.shape == qv::Shape::kTokenOperation || row.shape == qv::Shape::kReader) &&
        std::string_view(qv::wire::ProcTable(row.procedure).arg_name) == "RpcStatus") {
        const RpcStatus token_only{0, 0, row.token == qv::Token::kLoginToken ? kToken : 0};
        EXPECT_EQ(request, qvtest::Encode(reinterpret_cast<xdrproc_t>(xdr_RpcStatus), &token_only));
    }
    if (!f.names_object) return;
    const bool whole =
        std::string_view(qv::wire::ProcTable(row.procedure).arg_name) == "RpcObjectRef";
    std::u16string name = qvtest::kSampleObject;
    const RpcObjectRef reference{
        0,
        {static_cast<u_int>(name.size() + 1), reinterpret_cast<u_short*>(name.data())},
        qvtest::kSampleNumber,
        whole ? kToken : 0};
    EXPECT_TRUE(has(reference, xdr_RpcObjectRef)) << "no reference to the sample object";
}

// The service's word comes back unchanged and is logged as the row says.
TEST_P(OnTheService, ServiceWordIsPassedThroughAndLogged) {
    // The last procedure refuses: the one whose refusal the line reports.
    const unsigned refusing = Procedures(row).back();
    Bytes refused = qvtest::SampleReply(refusing);
    ASSERT_GE(refused.size(), 4u);
    const uint32_t word = htonl(0x6FFC0042);
    std::memcpy(refused.data(), &word, 4);
    svc.AnswerRaw(refusing, refused);
    const qvtest::CallResult r = f.call(handle, {});
    EXPECT_EQ(r.status, qv::Answered(row, 0x6FFC0042u, 0));
    EXPECT_EQ(r.outputs, AfterFailure(row));
    // Only a function that acts on this machine first writes lines before.
    const Lines lines = FailureLines(row, 0x6FFC0042, 0, 0x6FFC0042);
    if (std::string_view(f.family) == "netboot") {
        EXPECT_TRUE(EndsWith(trace.Lines(), lines));
    } else {
        EXPECT_EQ(trace.Lines(), lines);
    }
}

TEST_P(OnTheService, TransportFaultsAreMappedAndTheHandleCarriesOn) {
    const struct {
        Fault fault;
        QV_STATUS status;
        uint32_t client;
    } rows[] = {
        {Fault::kStall, QV_STATUS_RPC_TIMEOUT, RPC_TIMEDOUT},
        {Fault::kGarbage, QV_STATUS_RPC_FAILED, RPC_CANTDECODERES},
        {Fault::kClose, QV_STATUS_RPC_CHANNEL, RPC_CANTRECV},  // last: the connection is gone
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.fault));
        const std::uintmax_t before = trace.End();
        svc.Misbehave(row.procedure, r.fault);
        WaitAtMost(r.fault == Fault::kStall ? 150000 : 5000000);
        const qvtest::CallResult result = f.call(handle, {});
        WaitAtMost(5000000);
        EXPECT_EQ(result.status, qv::Answered(row, r.status, 0));
        EXPECT_EQ(result.outputs, AfterFailure(row));
        EXPECT_TRUE(EndsWith(trace.LinesAfter(before), FailureLines(row, r.status, r.client, 0)));
        svc.Reset(row.procedure);
        if (r.fault != Fault::kClose) {
            EXPECT_TRUE(Succeeded(row, f(handle)));
        }
    }
}

// ---- on a client that decodes from memory -------------------------------------

// Every sample reply is accepted whole; then each allocation of the call,
// made to fail in turn: the function reports it (or gets by without it),
// leaves its output as the row says and nothing behind; a request that
// cannot be built writes the row's no-memory line.
TEST_P(EveryFunction, EveryAllocationMayFail) {
    qvtest::MemoryClient client;
    Lines first_failure;
    if (row.no_memory.text != nullptr) first_failure.push_back(row.no_memory.text);
    if (row.no_memory.error_line) first_failure.push_back(ErrorLine(row, QV_STATUS_NO_MEMORY));
    for (const Bytes& reply : qvtest::SampleReplies(row.procedure)) {
        client.SetReply(reply);
        qv::alloc_fault::Reset();
        ASSERT_TRUE(Succeeded(row, f(client.handle())));
        const unsigned allocations = qv::alloc_fault::Count();
        for (unsigned n = 1; n <= allocations + 1; ++n) {
            SCOPED_TRACE(n);
            const std::uintmax_t before = trace.End();
            qv::alloc_fault::FailAt(n);
            const qvtest::CallResult r = f.call(client.handle(), {});
            qv::alloc_fault::Reset();
            if (Succeeded(row, r.status)) continue;
            ASSERT_EQ(r.status, qv::Answered(row, QV_STATUS_NO_MEMORY, 0));
            EXPECT_TRUE(AfterNoMemory(row, r.outputs));
            if (n == 1) {
                EXPECT_TRUE(EndsWith(trace.LinesAfter(before), first_failure));
            }
        }
    }
}

// The release function gives back a heap output whole (keep flag 0) and
// nulls the caller's pointer; with the flag set it leaves the caller's own
// record, which the ordinary calls pass, in place.
TEST_P(EveryFunction, ReleaseGivesBackAHeapOutputWhole) {
    if (!f.releases) return;
    qvtest::MemoryClient client;
    for (const Bytes& reply : qvtest::SampleReplies(row.procedure)) {
        client.SetReply(reply);
        const qvtest::CallResult r = f.call(client.handle(), {.heap_outputs = true});
        EXPECT_TRUE(Succeeded(row, r.status));
        EXPECT_TRUE(r.released);
    }
}

// A reply cut anywhere cannot be decoded: the call fails as a transport
// failure, the output is left as the row says, nothing leaks.
TEST_P(EveryFunction, CutRepliesAreRefused) {
    qvtest::MemoryClient client;
    const Lines each = FailureLines(row, QV_STATUS_RPC_FAILED, RPC_CANTDECODERES, 0);
    for (const Bytes& sample : qvtest::SampleReplies(row.procedure)) {
        // Every whole number of XDR units short of the record, and one byte short.
        std::vector<std::size_t> cuts{sample.size() - 1};
        for (std::size_t cut = 0; cut < sample.size(); cut += 4) cuts.push_back(cut);
        for (const std::size_t cut : cuts) {
            const Bytes reply(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(cut));
            client.SetReply(reply);
            const std::uintmax_t end = trace.End();
            const qvtest::CallResult r = f.call(client.handle(), {});
            ASSERT_EQ(r.status, qv::Answered(row, QV_STATUS_RPC_FAILED, 0)) << cut;
            ASSERT_EQ(r.outputs, AfterFailure(row)) << cut;
            ASSERT_TRUE(EndsWith(trace.LinesAfter(end), each)) << cut;
        }
    }
}

const auto kName = [](const auto& info) { return std::string(info.param.name()); };
INSTANTIATE_TEST_SUITE_P(Table, OnTheService, ::testing::ValuesIn(qvtest::RemoteFunctions()),
                         kName);
INSTANTIATE_TEST_SUITE_P(Table, EveryFunction, ::testing::ValuesIn(qvtest::RemoteFunctions()),
                         kName);

}  // namespace
