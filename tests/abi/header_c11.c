/* The public header compiles alone as strict C11. */
#include "qvcliapi.h"

int header_c11_probe(void);
int header_c11_probe(void) {
    QV_CONNECT_PARAM p = {0};
    QV_WCHAR c = u'a';
    return (int)sizeof p + (int)c;
}
