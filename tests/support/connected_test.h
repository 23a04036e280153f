// A test with an open handle on a fresh in-process test service and eyes on
// the trace file: the handle logged in with kToken before the test, the
// service's record of requests cleared, the handle logged out after it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection/handle.h"
#include "support/test_service.h"
#include "support/trace_fixture.h"

namespace qvtest {

// Gives back what the caller's own record holds through its release
// function, keeping the record itself (keep flag 1); what the release left
// in the caller's pointer comes back.
template <typename T>
T* ReleaseKept(QV_STATUS (*release)(T**, uint32_t), T& record) {
    T* held = &record;
    EXPECT_EQ(release(&held, 1), 0u);
    return held;
}

class ConnectedTest : public ::testing::Test {
  public:
    static constexpr uint32_t kToken = 0x600D;  // stands out among a request's words
    using Lines = std::vector<std::u16string>;

  protected:
    TestService svc;
    TraceFixture trace;
    QV_HANDLE handle = nullptr;

    void SetUp() override {
        svc.Answer<LOGIN>({.status = 0, .token = kToken});
        const QV_CONNECT_PARAM p = svc.Params();
        ASSERT_EQ(qvConnect(&p, &handle), 0u);
        svc.ClearRecord();
    }
    void TearDown() override {
        if (handle == nullptr) return;
        svc.Reset(LOGOUT);
        if (qvDisconnect(&handle) != 0) {  // the connection may be gone
            clnt_destroy(qv::GetRpcClient(handle));
            qvFreeHandle(&handle);
        }
    }
};

}  // namespace qvtest
