#include "platform/sim/sim_services.h"

#include <cstdlib>

namespace qn::platform::sim {

namespace {

std::string file_name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool SimFiles::hidden(const std::string& path) const { return hidden_.count(file_name(path)) != 0; }

bool SimFiles::exists(const std::string& path) { return !hidden(path) && real_.exists(path); }

Result<std::unique_ptr<OutFile>> SimFiles::create(const std::string& path) {
    hidden_.erase(file_name(path));
    return real_.create(path);
}

Result<std::unique_ptr<OutFile>> SimFiles::create_text(const std::string& path) {
    hidden_.erase(file_name(path));
    return real_.create_text(path);
}

Result<std::string> SimFiles::read_all(const std::string& path) {
    if (hidden(path)) return fail("open(" + path + "): set aside for this run (quennick-sim --fresh)");
    auto added = added_.find(file_name(path));
    if (added == added_.end()) return real_.read_all(path);
    auto text = real_.read_all(path);
    return (text.ok() ? text.value() + "\r\n" : std::string()) + added->second;
}

Result<void> SimFiles::replace(const std::string& from, const std::string& to) {
    auto r = real_.replace(from, to);
    if (r.ok()) hidden_.erase(file_name(to));
    return r;
}

Result<void> SimFiles::remove(const std::string& path) {
    hidden_.erase(file_name(path));
    return real_.remove(path);
}

Result<void> SimFiles::redirect_stderr(const std::string& path) {
    if (keep_stderr_) return fail("redirect_stderr: kept on the terminal for this simulated run");
    return real_.redirect_stderr(path);
}

void SimProcess::exit(int code) {
    if (hook_) {
        auto hook = std::move(hook_);
        hook_ = nullptr;
        hook(code);
    }
    if (!real_) throw SimExit{code};
    real_->exit(code);
    std::abort();  // exit does not come back
}

}  // namespace qn::platform::sim
