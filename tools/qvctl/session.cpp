// The connection to the service.
#include "qvctl.h"

namespace qvctl {

void Check(QV_STATUS status, const std::string& what) {
    if (status != QV_STATUS_SUCCESS) throw Failure(status, what);
}

Session::Session(const Globals& globals) {
    const std::u16string host = ToUtf16(globals.host);
    const std::u16string user = ToUtf16(globals.user);
    const std::u16string password = ToUtf16(globals.password);
    const QV_CONNECT_PARAM param{host.c_str(), globals.port, user.c_str(), password.c_str()};
    Check(qvConnect(&param, &handle_),
          "connect to " + globals.host + ":" + std::to_string(globals.port));
}

Session::~Session() {
    // A logout the service refuses leaves the handle usable; it is given
    // back all the same, since qvctl is done with it.
    if (handle_ != nullptr && qvDisconnect(&handle_) != QV_STATUS_SUCCESS) qvFreeHandle(&handle_);
}

}  // namespace qvctl
