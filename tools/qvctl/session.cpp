// The connection to the service, and failures in words a person can act on.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

// quarvane-sim's sample login, taken on a loopback host when none is given.
constexpr const char* kSampleUser = "admin";
constexpr const char* kSamplePassword = "secret";

bool Loopback(const std::string& host) { return host == "localhost" || host.rfind("127.", 0) == 0; }

std::string HostWords(const std::string& host) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        return "'" + host + "' is an IPv6 address; the service is reached over IPv4 only" +
               (host == "::1" ? " (use 127.0.0.1)" : "");
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0) {
        freeaddrinfo(found);
        return "host '" + host + "' has no IPv4 address; the service is reached over IPv4 only";
    }
    return "cannot resolve host '" + host + "'";
}

std::string ReadPasswordFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        throw UsageError("cannot read a password from '" + path + "'");
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Asks on the terminal, without echo.
std::string PromptPassword(const std::string& user, const std::string& host) {
    std::cerr << "Password for " << user << " at " << host << ": " << std::flush;
    termios saved{};
    const bool quiet = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    }
    std::string password;
    std::getline(std::cin, password);
    if (quiet) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::cerr << '\n';
    return password;
}

std::pair<std::string, std::string> Login(const Globals& g) {
    if (g.user.empty()) {
        if (!Loopback(g.host)) {
            throw UsageError("no user name for " + g.host + ": pass --user or set QVCTL_USER");
        }
        return {kSampleUser, g.password_given ? g.password : kSamplePassword};
    }
    if (g.password_given) return {g.user, g.password};
    if (!g.password_file.empty()) return {g.user, ReadPasswordFile(g.password_file)};
    if (Terminal(STDIN_FILENO) && Terminal(STDERR_FILENO)) {
        return {g.user, PromptPassword(g.user, g.host)};
    }
    throw UsageError("no password for " + g.user +
                     ": set QVCTL_PASSWORD, pass --password-file FILE, or run on a terminal");
}

}  // namespace

void Check(QV_STATUS status, const std::string& what) {
    if (status != QV_STATUS_SUCCESS) throw Failure(status, what);
}

std::string StatusWords(QV_STATUS status, const Globals* g) {
    // A failed login names the endpoint already.
    const std::string at =
        g != nullptr && status != QV_STATUS_CLIENT_CREATE ? " at " + g->Endpoint() : "";
    switch (status) {
        case QV_STATUS_NO_HANDLE:
            return "no connection to the service";
        case QV_STATUS_CLIENT_CREATE:
            return "the service is unreachable" + at +
                   " (nothing accepts connections; is it running?)";
        case QV_STATUS_HOST_UNRESOLVED:
            return g != nullptr ? HostWords(g->host) : "cannot resolve the host name";
        case QV_STATUS_RPC_TIMEOUT:
            return "timed out waiting for the service" + at;
        case QV_STATUS_RPC_CHANNEL:
            return "lost the connection to the service" + at;
        case QV_STATUS_RPC_FAILED:
            return "the call to the service" + at + " failed (its reply could not be read)";
        default:
            return MessageText(status);
    }
}

std::string FailureText(const Failure& f, const Globals& g) {
    std::string words = StatusWords(f.status(), &g);
    if (ExitCodeOf(f) == kExitLoginRefused)
        words = "login refused for user '" + f.user() + "': " + words;
    return "cannot " + std::string(f.what()) + ": " + words + " (error " + Hex8(f.status()) + ")";
}

Exit ExitCodeOf(const Failure& f) {
    switch (f.status()) {
        case QV_STATUS_CLIENT_CREATE:
        case QV_STATUS_HOST_UNRESOLVED:
        case QV_STATUS_RPC_TIMEOUT:
        case QV_STATUS_RPC_CHANNEL:
            return kExitUnreachable;
        case QV_STATUS_NO_HANDLE:
        case QV_STATUS_RPC_FAILED:
        case QV_STATUS_LOCAL_FAILURE:
        case QV_STATUS_NO_MEMORY:
            return kExitFailed;
        default:
            return f.login() ? kExitLoginRefused : kExitRefused;
    }
}

Session::Session(const Globals& g) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, g.host.c_str(), &v6) == 1) {
        throw Failure(QV_STATUS_HOST_UNRESOLVED, "connect to " + g.Endpoint());
    }
    const auto [user, password] = Login(g);
    const std::u16string host16 = ToUtf16(g.host);
    const std::u16string user16 = ToUtf16(user);
    const std::u16string password16 = ToUtf16(password);
    const QV_CONNECT_PARAM param{host16.c_str(), g.port, user16.c_str(), password16.c_str()};
    const QV_STATUS status = qvConnect(&param, &handle_);
    // What the service answers at connect time is its answer to the login.
    if (status != QV_STATUS_SUCCESS) throw Failure(status, "connect to " + g.Endpoint(), user);
}

Session::~Session() {
    // A failed logout leaves the handle, and the connection it holds, open:
    // the interface closes a connection only by a logout, and qvFreeHandle
    // would drop the record but not the connection. Such a handle is kept
    // until qvctl exits, which closes the connection.
    static auto* const kept = new std::vector<QV_HANDLE>;
    if (handle_ != nullptr && qvDisconnect(&handle_) != QV_STATUS_SUCCESS) kept->push_back(handle_);
}

}  // namespace qvctl
