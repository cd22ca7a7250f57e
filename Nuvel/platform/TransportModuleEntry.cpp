// The one symbol of the transport module (nuvel-transport.so), resolved when the program sends
// its first request; libcurl comes in with it. Each call makes a transport the caller owns.
#include "Nuvel/platform/TransportModule.hpp"
#include "NuvelKit/service/CurlTransport.hpp"

extern "C" __attribute__((visibility("default"))) nuvel::HttpTransport*
nuvel_http_transport(int interfaceVersion) {
    if (interfaceVersion != nuvel::transportModuleInterface)
        return nullptr;
    return new nuvel::CurlTransport();
}
