#include "web/host_rule.h"

#include <algorithm>
#include <cctype>

namespace web {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool IsIPv4Literal(std::string_view name) {
    int parts = 0;
    std::size_t at = 0;
    while (at <= name.size()) {
        const std::size_t dot = std::min(name.find('.', at), name.size());
        const std::string_view part = name.substr(at, dot - at);
        if (part.empty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isdigit(c); }) ||
            std::stoi(std::string(part)) > 255) {
            return false;
        }
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

bool IsIPv6Literal(std::string_view name) {
    if (name.size() < 4 || name.front() != '[' || name.back() != ']') return false;
    const std::string_view inside = name.substr(1, name.size() - 2);
    return inside.find(':') != std::string_view::npos &&
           std::all_of(inside.begin(), inside.end(),
                       [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
}

}  // namespace

std::string HostName(std::string_view host) {
    std::string_view name = host;
    if (!name.empty() && name.front() == '[') {
        const std::size_t close = name.find(']');
        name = close == std::string_view::npos ? name : name.substr(0, close + 1);
    } else {
        name = name.substr(0, name.find(':'));
    }
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    return Lower(name);
}

HostRule::HostRule(const std::string& machine_name, const std::vector<std::string>& extra_names) {
    names_.push_back("localhost");
    if (!machine_name.empty()) {
        names_.push_back(HostName(machine_name));
        names_.push_back(HostName(machine_name) + ".local");
    }
    for (const std::string& name : extra_names) names_.push_back(HostName(name));
}

bool HostRule::Answers(std::string_view host) const {
    const std::string name = HostName(host);
    if (name.empty()) return false;
    if (IsIPv4Literal(name) || IsIPv6Literal(name)) return true;
    return std::find(names_.begin(), names_.end(), name) != names_.end();
}

bool SameOrigin(const char* origin, const char* host) {
    if (origin == nullptr) return true;
    if (host == nullptr) return false;
    const std::string o = Lower(origin);
    const std::string h = Lower(host);
    return o == "http://" + h || o == "https://" + h;
}

}  // namespace web
