// The rules every remote function shares, run once over the table of
// exported functions: the handle check, the service's word passed through,
// transport faults, allocation failure at every step.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "connection/handle.h"
#include "platform/alloc.h"
#include "support/function_table.h"
#include "support/memory_client.h"
#include "support/sample_replies.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

using qvtest::Fault;
using qvtest::RemoteFunction;

namespace {

TEST(FunctionTable, CoversExactlyTheExportedFunctions) {
    std::ifstream in(QV_TEST_DATA_DIR "/../abi/exports.txt");
    ASSERT_TRUE(in.good());
    std::set<std::string> exported;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') exported.insert(line);
    }
    std::set<std::string> tabled;
    for (const RemoteFunction& f : qvtest::RemoteFunctions()) {
        EXPECT_TRUE(tabled.insert(f.name).second) << f.name << " twice";
    }
    for (std::string_view name : qvtest::OtherExports()) {
        EXPECT_TRUE(tabled.insert(std::string(name)).second) << name << " twice";
    }
    EXPECT_EQ(tabled, exported);
}

// A zeroed result record of the procedure with its status word set.
qvtest::Bytes ReplyWithStatus(unsigned proc, uint32_t status) {
    const auto& info = qv::wire::ProcTable(proc);
    std::vector<uint8_t> zero(info.res_size + 8, 0);
    qvtest::Bytes bytes = qvtest::Encode(info.res_filter, zero.data());
    const uint32_t be = htonl(status);
    std::memcpy(bytes.data(), &be, 4);
    return bytes;
}

class EveryFunction : public ::testing::TestWithParam<RemoteFunction> {
  protected:
    qvtest::TestService svc;
    qvtest::TraceFixture trace;
    QV_HANDLE handle = nullptr;

    void Connect() {
        svc.Answer<LOGIN>({.status = 0, .token = 0x600D});
        const QV_CONNECT_PARAM p = svc.Params();
        ASSERT_EQ(qvConnect(&p, &handle), 0u);
        timeval shortened{0, 300000};
        clnt_control(qv::GetRpcClient(handle), CLSET_TIMEOUT, reinterpret_cast<char*>(&shortened));
    }
    void TearDown() override {
        if (handle == nullptr) return;
        svc.Reset(LOGOUT);
        if (qvDisconnect(&handle) != 0) {
            clnt_destroy(qv::GetRpcClient(handle));
            qvFreeHandle(&handle);
        }
    }
};

TEST_P(EveryFunction, InvalidHandleTouchesNothing) {
    QV_CLIENT_HANDLE without_client{0x600D, nullptr};
    EXPECT_EQ(GetParam().call(nullptr), QV_STATUS_NO_HANDLE);
    EXPECT_EQ(GetParam().call(&without_client), QV_STATUS_NO_HANDLE);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_TRUE(trace.DebugLines().empty());
    EXPECT_EQ(svc.TotalCalls(), 0u);
}

TEST_P(EveryFunction, SendsItsProcedureWithTheLoginToken) {
    Connect();
    svc.ClearRecord();
    EXPECT_EQ(GetParam().call(handle), 0u);
    const std::vector<unsigned> sent = svc.CallOrder();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), GetParam().proc);
    if (!GetParam().sends_token) return;
    // The login token rides in the request: its four bytes appear on the wire.
    const qvtest::Bytes req = svc.LastBytes(GetParam().proc);
    const uint8_t token[] = {0, 0, 0x60, 0x0D};
    EXPECT_NE(std::search(req.begin(), req.end(), std::begin(token), std::end(token)), req.end());
}

TEST_P(EveryFunction, PassesTheServiceWordThroughAndLogsIt) {
    Connect();
    svc.AnswerRaw(GetParam().proc, ReplyWithStatus(GetParam().proc, 0x6FFC0042));
    EXPECT_EQ(GetParam().call(handle), 0x6FFC0042u);
    const auto lines = trace.Lines();
    ASSERT_EQ(lines.size(), GetParam().logs ? 1u : 0u);
    if (!GetParam().logs) return;
    EXPECT_NE(lines[0].find(u"[6FFC0042]"), std::u16string::npos);
}

TEST_P(EveryFunction, TransportFaultsAreMappedAndTheHandleCarriesOn) {
    Connect();
    struct Row {
        Fault fault;
        QV_STATUS status;
        const char16_t* line;
    };
    const Row rows[] = {
        {Fault::kStall, QV_STATUS_RPC_TIMEOUT, u"Error, rpc call error, client status[00000005]"},
        {Fault::kGarbage, QV_STATUS_RPC_FAILED, u"Error, rpc call error, client status[00000002]"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.fault));
        const size_t before = trace.Lines().size();
        svc.Misbehave(GetParam().proc, r.fault);
        EXPECT_EQ(GetParam().call(handle), r.status);
        const auto lines = trace.Lines();
        ASSERT_GT(lines.size(), before);
        EXPECT_EQ(std::count(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end(),
                             std::u16string(r.line)),
                  1);
        svc.Reset(GetParam().proc);
        EXPECT_EQ(GetParam().call(handle), 0u);
    }
    svc.Misbehave(GetParam().proc, Fault::kClose);
    EXPECT_EQ(GetParam().call(handle), QV_STATUS_RPC_CHANNEL);
}

// Each allocation of a call, made to fail in turn, over every sample reply
// of its procedure: the function reports it (or gets by without it) and
// leaves nothing behind.
TEST_P(EveryFunction, EveryAllocationMayFail) {
    qvtest::MemoryClient client;
    for (const qvtest::Bytes& reply : qvtest::SampleReplies(GetParam().proc)) {
        client.SetReply(reply);
        qv::alloc_fault::Reset();
        ASSERT_EQ(GetParam().call(client.handle()), 0u);
        const unsigned allocations = qv::alloc_fault::Count();
        for (unsigned n = 1; n <= allocations + 1; ++n) {
            SCOPED_TRACE(n);
            qv::alloc_fault::FailAt(n);
            const QV_STATUS st = GetParam().call(client.handle());
            qv::alloc_fault::Reset();
            EXPECT_TRUE(st == 0 || st == QV_STATUS_NO_MEMORY) << std::hex << st;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, EveryFunction,
                         ::testing::ValuesIn(qvtest::RemoteFunctions().begin(),
                                             qvtest::RemoteFunctions().end()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
