// Firewall rules through the firewall's COM interface.
#include "win/firewall.h"

#include <windows.h>

#include <netfw.h>
#include <oleauto.h>

#include <utility>

#include "support/text.h"
#include "win/com_ptr.h"
#include "win/com_thread.h"
#include "win/hresult_text.h"

namespace ondelle {
namespace {

// The firewall's classes and interfaces, written out so that no import library is needed.
constexpr GUID policy_class = {
    0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
constexpr GUID policy_interface = {
    0x98325047, 0xc671, 0x4174, {0x8d, 0x81, 0xde, 0xfc, 0xd3, 0xf0, 0x31, 0x86}};
constexpr GUID rule_class = {
    0x2c5bc43e, 0x3369, 0x4c33, {0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67, 0x7a, 0xf4}};
constexpr GUID rule_interface = {
    0xaf230d27, 0xbaba, 0x4e42, {0xac, 0xed, 0xf5, 0x24, 0xf2, 0x2c, 0xfc, 0xe2}};

// An automation string, freed when it goes.
class Bstr {
  public:
    explicit Bstr(const std::wstring& text) : text_(SysAllocString(text.c_str())) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return text_; }  // NOLINT: passed as the calls take it

  private:
    BSTR text_;
};

struct RuleKind {
    const wchar_t* what;  // in the rule's name
    LONG protocol;
};

constexpr RuleKind endpoint_rule = {L"endpoint", NET_FW_IP_PROTOCOL_TCP};
constexpr RuleKind discovery_rule = {L"discovery", NET_FW_IP_PROTOCOL_UDP};

std::wstring rule_name(const std::string& service, const RuleKind& kind) {
    return to_wide(service) + L" (" + kind.what + L")";
}

HRESULT open_rules(ComPtr<INetFwRules>& rules) {
    initialize_com_for_thread();
    ComPtr<INetFwPolicy2> policy;
    HRESULT result = CoCreateInstance(policy_class, nullptr, CLSCTX_INPROC_SERVER, policy_interface,
                                      policy.put_void());
    if (SUCCEEDED(result)) result = policy->get_Rules(rules.put());
    return result;
}

HRESULT add_rule(INetFwRules* rules, const std::string& service, const RuleKind& kind,
                 const std::wstring& executable, const std::wstring& ports) {
    ComPtr<INetFwRule> rule;
    HRESULT result = CoCreateInstance(rule_class, nullptr, CLSCTX_INPROC_SERVER, rule_interface,
                                      rule.put_void());
    const Bstr name(rule_name(service, kind));
    const Bstr description(L"Lets Ondelle senders on this network reach the endpoint " +
                           to_wide(service) + L".");
    const Bstr application(executable);
    const Bstr local_ports(ports);
    const Bstr subnet(L"LocalSubnet");
    const Bstr grouping(L"Ondelle");
    if (SUCCEEDED(result)) result = rule->put_Name(name);
    if (SUCCEEDED(result)) result = rule->put_Description(description);
    if (SUCCEEDED(result)) result = rule->put_ApplicationName(application);
    if (SUCCEEDED(result)) result = rule->put_Protocol(kind.protocol);
    if (SUCCEEDED(result)) result = rule->put_LocalPorts(local_ports);
    if (SUCCEEDED(result)) result = rule->put_RemoteAddresses(subnet);
    if (SUCCEEDED(result)) result = rule->put_Direction(NET_FW_RULE_DIR_IN);
    if (SUCCEEDED(result)) result = rule->put_Profiles(NET_FW_PROFILE2_PRIVATE);
    if (SUCCEEDED(result)) result = rule->put_Action(NET_FW_ACTION_ALLOW);
    if (SUCCEEDED(result)) result = rule->put_Grouping(grouping);
    if (SUCCEEDED(result)) result = rule->put_Enabled(VARIANT_TRUE);
    if (SUCCEEDED(result)) result = rules->Add(rule.get());
    return result;
}

}  // namespace

bool add_firewall_rules(const std::string& service, const std::wstring& executable, int port,
                        std::string& error) {
    remove_firewall_rules(service);
    ComPtr<INetFwRules> rules;
    HRESULT result = open_rules(rules);
    if (SUCCEEDED(result))
        result = add_rule(rules.get(), service, endpoint_rule, executable, std::to_wstring(port));
    if (SUCCEEDED(result))
        result = add_rule(rules.get(), service, discovery_rule, executable, L"5353");
    if (SUCCEEDED(result)) return true;
    remove_firewall_rules(service);
    error = "the firewall did not take its rules (" + hresult_text(result) + ")";
    return false;
}

bool remove_firewall_rules(const std::string& service) {
    ComPtr<INetFwRules> rules;
    if (FAILED(open_rules(rules))) return false;
    bool removed = false;
    for (const RuleKind& kind : {endpoint_rule, discovery_rule})
        removed = SUCCEEDED(rules->Remove(Bstr(rule_name(service, kind)))) || removed;
    return removed;
}

}  // namespace ondelle
