// A reply fuzzer for one exported remote function, chosen at compile time
// by QV_FUZZ_FUNCTION (its name in the function table).
//
// The input is the result record the service sends back. The function
// runs its whole road on a client that decodes that record from memory:
// request fill and encoding, decode, status mapping, conversion, and the
// release of everything it handed out. The sanitizers watch every read,
// write and block; a reply that makes the library read past what arrived,
// leak, or make the heap grow beyond its share (fuzz_environment.h) is a
// finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "fuzz_environment.h"
#include "support/function_table.h"
#include "support/memory_client.h"

#ifndef QV_FUZZ_FUNCTION
#error "QV_FUZZ_FUNCTION names the function of the table this fuzzer drives"
#endif

namespace {

const qvtest::RemoteFunction* g_function = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qvfuzz::PrepareEnvironment();
    g_function = qvtest::FindRemoteFunction(QV_FUZZ_FUNCTION);
    if (g_function == nullptr) {
        std::fprintf(stderr, "%s is not in the function table\n", QV_FUZZ_FUNCTION);
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qvtest::MemoryClient client;
    const qvfuzz::GrowthCheck growth(size);
    client.SetReply(std::span(data, size));
    g_function->call(client.handle());
    return 0;
}
