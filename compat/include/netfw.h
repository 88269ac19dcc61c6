#pragma once

#include <windows.h>

#include <oleauto.h>

// The firewall's rules as the programs add and remove them: only what they call.
enum NET_FW_RULE_DIRECTION { NET_FW_RULE_DIR_IN = 1, NET_FW_RULE_DIR_OUT = 2 };
enum NET_FW_ACTION { NET_FW_ACTION_BLOCK = 0, NET_FW_ACTION_ALLOW = 1 };
enum NET_FW_PROFILE_TYPE2 {
    NET_FW_PROFILE2_DOMAIN = 0x1,
    NET_FW_PROFILE2_PRIVATE = 0x2,
    NET_FW_PROFILE2_PUBLIC = 0x4
};
enum NET_FW_IP_PROTOCOL { NET_FW_IP_PROTOCOL_TCP = 6, NET_FW_IP_PROTOCOL_UDP = 17 };

struct INetFwRule : IUnknown {
    virtual HRESULT put_Name(BSTR name) = 0;
    virtual HRESULT put_Description(BSTR description) = 0;
    virtual HRESULT put_ApplicationName(BSTR application) = 0;
    virtual HRESULT put_Protocol(LONG protocol) = 0;
    virtual HRESULT put_LocalPorts(BSTR ports) = 0;
    virtual HRESULT put_RemoteAddresses(BSTR addresses) = 0;
    virtual HRESULT put_Direction(NET_FW_RULE_DIRECTION direction) = 0;
    virtual HRESULT put_Enabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT put_Grouping(BSTR grouping) = 0;
    virtual HRESULT put_Profiles(LONG profiles) = 0;
    virtual HRESULT put_Action(NET_FW_ACTION action) = 0;
};

struct INetFwRules : IUnknown {
    virtual HRESULT Add(INetFwRule* rule) = 0;
    virtual HRESULT Remove(BSTR name) = 0;
};

struct INetFwPolicy2 : IUnknown {
    virtual HRESULT get_Rules(INetFwRules** rules) = 0;
};
