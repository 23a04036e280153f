// The exported functions whose shape is a whole template: every row of
// src/exports.def with the shape ObjectOperation, GroupOperation or
// TokenOperation is defined here, from its row alone. The declaration in
// the public header must match the shape's parameters, or this does not
// compile.
#include "connection/shapes.h"

// clang-format off
#define QV_DEFINE_ObjectOperation(name, procedure)                                         \
    extern "C" QV_STATUS name(QV_HANDLE handle, const QV_WCHAR* object, uint32_t number) { \
        return qv::RunOperation<procedure>(qv::rows::name, handle, object, number);        \
    }
#define QV_DEFINE_GroupOperation(name, procedure)                             \
    extern "C" QV_STATUS name(QV_HANDLE handle, const QV_WCHAR* group) {      \
        return qv::RunOperation<procedure>(qv::rows::name, handle, group);    \
    }
#define QV_DEFINE_TokenOperation(name, procedure)                             \
    extern "C" QV_STATUS name(QV_HANDLE handle) {                             \
        return qv::RunOperation<procedure>(qv::rows::name, handle);           \
    }
// clang-format on
#define QV_DEFINE_ObjectReader(name, procedure)
#define QV_DEFINE_GroupReader(name, procedure)
#define QV_DEFINE_Reader(name, procedure)
#define QV_DEFINE_Request(name, procedure)
#define QV_DEFINE_List(name, procedure)
#define QV_DEFINE_ConfigEdit(name, procedure)

#define QV_REMOTE(name, family, shape, procedure, sim, token, logs, answer, output, release, no_memory, line) \
    QV_DEFINE_##shape(name, procedure)
#include "exports.def"
