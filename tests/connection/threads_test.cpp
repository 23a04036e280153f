// Separate handles are independent: sixteen threads, each with a handle on
// a service that answers every call and one on a service that refuses every
// call (so that each refusal writes its lines), call every function of the
// table at the same time while the trace file is pushed past its size limit
// again and again. Each call answers as it does alone. `make tsan` runs this
// test under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/alloc.h"
#include "support/function_table.h"
#include "support/sample_replies.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

namespace {

constexpr int kThreads = 16;
constexpr int kRounds = 3;
constexpr uint32_t kRefusal = 0x6FFC0040;
constexpr uint64_t kPastTheLimit = 2097152 + 2;

// The local boot drivers are one per machine: what these answer depends on
// what the other threads did to them.
bool MachineWide(std::string_view name) {
    return name == "qvEnablePXEBoot" || name == "qvDisablePXEBoot" || name == "qvReconfigPXEBoot";
}

struct Handles {
    QV_HANDLE answered = nullptr;
    QV_HANDLE refused = nullptr;
    bool Open(const qvtest::TestService& answering, const qvtest::TestService& refusing) {
        const QV_CONNECT_PARAM a = answering.Params();
        const QV_CONNECT_PARAM r = refusing.Params();
        return qvConnect(&a, &answered) == 0 && qvConnect(&r, &refused) == 0;
    }
    ~Handles() {
        if (answered != nullptr) qvDisconnect(&answered);
        if (refused != nullptr) qvDisconnect(&refused);
    }
};

TEST(Threads, SeparateHandlesCallEveryFunctionAtOnceWhileTheTraceRotates) {
    qvtest::TraceFixture trace;
    qvtest::TestService answering;
    qvtest::TestService refusing;
    for (const auto& called : qvtest::CalledProcedures()) {
        answering.AnswerRaw(called.procedure, qvtest::SampleReply(called.procedure));
        refusing.AnswerRaw(called.procedure, qvtest::ReplyWithStatus(called.procedure, kRefusal));
    }
    for (qvtest::TestService* svc : {&answering, &refusing}) {
        svc->Answer<LOGIN>({.status = 0, .token = 0x600D});
        svc->Reset(LOGOUT);
    }

    // What each function answers on a handle of its own.
    const auto functions = qvtest::RemoteFunctions();
    std::vector<QV_STATUS> alone;
    {
        Handles h;
        ASSERT_TRUE(h.Open(answering, refusing));
        for (const auto& f : functions) {
            alone.push_back(f(h.answered));
            alone.push_back(f(h.refused));
        }
    }

    qv::alloc_fault::FailAt(0);  // counting every allocation of every thread
    std::atomic<bool> done{false};
    std::thread rotator([&] {
        // The current file past the size limit, as another writer leaves it.
        while (!done) {
            qvtest::TraceFixture::MakeSparseFile(trace.TraceFile(), kPastTheLimit);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::atomic<int> unconnected{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Handles h;
            if (!h.Open(answering, refusing)) {
                ++unconnected;
                return;
            }
            for (int round = 0; round < kRounds; ++round) {
                for (std::size_t i = 0; i < functions.size(); ++i) {
                    const QV_STATUS answered = functions[i](h.answered);
                    const QV_STATUS refused = functions[i](h.refused);
                    if (MachineWide(functions[i].name())) continue;
                    EXPECT_EQ(answered, alone[2 * i]) << functions[i].name();
                    EXPECT_EQ(refused, alone[2 * i + 1]) << functions[i].name();
                }
                QV_WCHAR* text = nullptr;
                EXPECT_EQ(qvFormatErrMessage(nullptr, kRefusal, &text), 0u);
                qvFreeErrMessage(&text);
                qvWriteTrace(2, u"thread %d, round %d", t, round);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    done = true;
    rotator.join();
    EXPECT_EQ(unconnected, 0);

    // However the writers raced, every file carries a name of the scheme.
    const std::regex scheme(R"(qvapi([1-9]|10)?\.log)");
    int rotated = 0;
    for (const auto& entry : std::filesystem::directory_iterator(trace.LogDir())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::regex_match(name, scheme)) << name;
        rotated += name != "qvapi.log";
    }
    EXPECT_GT(rotated, 0);
}

}  // namespace
