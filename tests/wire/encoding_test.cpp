// The wire's procedure table as the generator makes it from quarvane.x. The
// field order and types of every record are frozen by protocol.snapshot, and
// XDR fixes how those types are encoded; what the library puts in them (a
// text's terminator, a reference's token, a nested reference's zeros) is
// checked on the requests the test service decodes, and every reply record
// the library reads is decoded whole and cut anywhere by the table of
// functions' tests.
#include <type_traits>

#include "support/test_service.h"

static_assert(qv::wire::kProcCount == 115);
static_assert(std::is_same_v<qv::wire::Proc<1>::Arg, RpcLogin>);
static_assert(std::is_same_v<qv::wire::Proc<34>::Arg, qv::wire::NoRecord>);
static_assert(std::is_same_v<qv::wire::Proc<GET_DISK_LIST>::Res, RpcDiskList>);
static_assert(qv::wire::Proc<ALLOC_PARTITION_FOR_DISK>::kNumber == 114);
