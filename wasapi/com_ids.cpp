// The one place where the GUIDs of the interfaces the program asks for are instantiated.
// clang-format off
#include <initguid.h>
#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <endpointvolume.h>
#include <functiondiscoverykeys_devpkey.h>
// clang-format on
