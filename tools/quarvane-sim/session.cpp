// Login and logout.
//
// The login strings are the user and the password; the host name the
// client connected to is only traced. A refused login is answered with the
// invalid-parameter word: the credentials are the parameters.
#include "families.h"
#include "quarvane.h"
#include "status.h"
#include "text.h"
#include "wire.h"

namespace qvsim {

void RegisterSession(Registry& registry, Service& service) {
    registry.On<0>([](const qv::wire::NoRecord&, qv::wire::NoRecord&) {});

    registry.On<LOGIN>([&service](const RpcLogin& arg, RpcTokenRecord& res) {
        const Credentials& expected = service.options().credentials;
        const std::u16string user = wire::Text(arg.login1);
        if (user != expected.user || wire::Text(arg.login2) != expected.password) {
            service.Trace("login refused for user \"" + ToUtf8(user) + "\"");
            res.status = status::kInvalidParameter;
            return;
        }
        res.token = service.sessions().Open();
        service.Trace("login of \"" + ToUtf8(user) + "\" from host \"" +
                      ToUtf8(wire::Text(arg.host)) + "\"");
    });

    // The server has checked the token already: it is open, and now closes.
    registry.On<LOGOUT>(
        [&service](const RpcTokenRecord& arg, RpcStatus&) { service.sessions().Close(arg.token); });
}

}  // namespace qvsim
