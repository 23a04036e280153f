// The public header compiles alone as C++17.
#include "qvcliapi.h"

int header_cxx17_probe();
int header_cxx17_probe() {
    QV_CONNECT_PARAM p{};
    static_assert(sizeof(QV_WCHAR) == 2, "UTF-16 code units");
    return static_cast<int>(sizeof p);
}
