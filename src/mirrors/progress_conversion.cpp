#include "mirrors/progress_conversion.h"

#include "diag/log.h"

namespace qv {

uint32_t ProgressState(LongOperation operation, uint32_t wire_state) noexcept {
    uint32_t last = 0;
    switch (operation) {
        case LongOperation::kRestore:
            last = 4;
            break;
        case LongOperation::kRollback:
            last = 5;
            break;
        case LongOperation::kSnapshot:
            last = 4;
            break;
    }
    return wire_state >= 1 && wire_state <= last ? wire_state : 0;
}

void ConvertProgress(const RpcProgress& in, LongOperation operation, QV_PROGRESS& out) noexcept {
    out.State = ProgressState(operation, in.State);
    out.Result = in.Result;
    out.DirtyData = in.DirtyData;
    out.TotalDone = in.TotalDone;
}

uint32_t ReportProgress(const RpcProgress& in, const ProgressReport& report, const char16_t* name,
                        uint32_t number, QV_PROGRESS& out) noexcept {
    ConvertProgress(in, report.operation, out);
    const uint32_t state = report.logged_state == LoggedState::kReceived ? in.State : out.State;
    LogProgress(report.line, name == nullptr ? u"" : name, number, out.Result, state, out.DirtyData,
                out.TotalDone);
    return 0;
}

uint32_t VerifyProgressState(uint32_t wire_state) noexcept {
    return wire_state >= 1 && wire_state <= 3 ? wire_state : 0;
}

void ConvertVerifyProgress(const RpcVerifyProgress& in, QV_VERIFY_PROGRESS& out) noexcept {
    out.State = VerifyProgressState(in.State);
    out.Amount1KiB = KiB(in.Amount1);
    out.Amount2KiB = KiB(in.Amount2);
    out.Value1 = in.Value1;
    out.Value2 = in.Value2;
    out.Value5 = in.Value5;
    out.Value4 = in.Value4;
    out.Value3 = in.Value3;
    out.Value6KiB = in.Value6 >> 10;
    out.Amount3KiB = KiB(in.Amount3);
    out.Count = static_cast<uint64_t>(in.Count);
}

}  // namespace qv
