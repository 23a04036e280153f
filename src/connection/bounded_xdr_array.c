/*
 * Variable-length arrays for the generated filters, decoded without trusting
 * the count that precedes them.
 *
 * The runtime's own array filter allocates (and zeroes) count * element size
 * bytes as soon as it has read the count, before a single element has
 * arrived: a reply that claims a billion elements costs gigabytes, whatever
 * it really carries. The generated filters are compiled with xdr_array
 * mapped to this function, which grows the array as elements actually
 * decode, so memory follows the bytes received. Encoding and freeing behave
 * exactly like the runtime's filter, and the bytes on the wire are the same.
 */
#include <limits.h>
#include <rpc/rpc.h>
#include <stdlib.h>
#include <string.h>

bool_t qv_bounded_xdr_array(XDR* xdrs, caddr_t* addrp, u_int* sizep, u_int maxsize, u_int elsize,
                            xdrproc_t elproc);

/* First allocation: enough for small arrays in one step. */
enum { kFirstBytes = 4096 };

static bool_t FreeElements(XDR* xdrs, caddr_t* addrp, u_int count, u_int elsize, xdrproc_t elproc) {
    bool_t ok = TRUE;
    char* target = *addrp;
    if (target == NULL) return TRUE;
    for (u_int i = 0; i < count; ++i) {
        ok = (*elproc)(xdrs, target + (size_t)i * elsize) && ok;
    }
    free(target);
    *addrp = NULL;
    return ok;
}

static bool_t Decode(XDR* xdrs, caddr_t* addrp, u_int* sizep, u_int count, u_int elsize,
                     xdrproc_t elproc) {
    if (count == 0) {
        *sizep = 0;
        return TRUE;
    }
    if (*addrp != NULL) {
        /* The caller supplied the storage: it holds *sizep elements already. */
        for (u_int i = 0; i < count; ++i) {
            if (!(*elproc)(xdrs, *addrp + (size_t)i * elsize)) return FALSE;
        }
        return TRUE;
    }

    u_int capacity = kFirstBytes / elsize;
    if (capacity == 0) capacity = 1;
    if (capacity > count) capacity = count;
    char* target = calloc(capacity, elsize);
    if (target == NULL) return FALSE;
    *addrp = target;
    *sizep = capacity;

    for (u_int i = 0; i < count; ++i) {
        if (i == capacity) {
            u_int grown = capacity > count / 2 ? count : capacity * 2;
            char* larger = realloc(target, (size_t)grown * elsize);
            if (larger == NULL) return FALSE; /* *sizep still describes what is held */
            memset(larger + (size_t)capacity * elsize, 0, (size_t)(grown - capacity) * elsize);
            target = larger;
            *addrp = target;
            capacity = grown;
            *sizep = capacity;
        }
        if (!(*elproc)(xdrs, target + (size_t)i * elsize)) {
            /* Elements from i on are zero: the caller's xdr_free releases them all. */
            return FALSE;
        }
    }
    *sizep = count;
    return TRUE;
}

bool_t qv_bounded_xdr_array(XDR* xdrs, caddr_t* addrp, u_int* sizep, u_int maxsize, u_int elsize,
                            xdrproc_t elproc) {
    if (elsize == 0) return FALSE;
    switch (xdrs->x_op) {
        case XDR_FREE:
            return FreeElements(xdrs, addrp, *sizep, elsize, elproc);
        case XDR_ENCODE: {
            u_int count = *sizep;
            if (count > maxsize || UINT_MAX / elsize < count) return FALSE;
            if (!xdr_u_int(xdrs, &count)) return FALSE;
            for (u_int i = 0; i < count; ++i) {
                if (!(*elproc)(xdrs, *addrp + (size_t)i * elsize)) return FALSE;
            }
            return TRUE;
        }
        case XDR_DECODE: {
            u_int count = 0;
            if (!xdr_u_int(xdrs, &count)) return FALSE;
            if (count > maxsize || UINT_MAX / elsize < count) return FALSE;
            if (*addrp != NULL && count > *sizep) return FALSE;
            return Decode(xdrs, addrp, sizep, count, elsize, elproc);
        }
    }
    return FALSE;
}
