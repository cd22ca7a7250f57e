#include "Nuvel/platform/TransportModule.hpp"

#include "Nuvel/platform/ProgramModule.hpp"
#include "NuvelKit/service/TransportError.hpp"

#include <mutex>
#include <string>

namespace nuvel {

namespace {

using MakeTransport = HttpTransport* (*)(int);

struct Loaded {
    MakeTransport make = nullptr;
    std::string failure;
};

const Loaded& transportModule() {
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] {
        ProgramModuleEntry entry = loadProgramModule("nuvel-transport.so", "nuvel_http_transport");
        if (entry.symbol == nullptr)
            loaded.failure = entry.failure;
        else
            loaded.make = reinterpret_cast<MakeTransport>(entry.symbol);
    });
    return loaded;
}

// Sends through the module's transport, made on the first request.
class ModuleHttpTransport final : public HttpTransport {
public:
    HttpResponse send(const HttpRequest& request, std::stop_token stop) override {
        std::call_once(made_, [this] {
            const Loaded& module = transportModule();
            if (module.make == nullptr) {
                failure_ = module.failure;
                return;
            }
            transport_.reset(module.make(transportModuleInterface));
            if (transport_ == nullptr)
                failure_ = "nuvel-transport.so belongs to another build of the program";
        });
        if (transport_ == nullptr)
            throw TransportError(TransportError::Code::other, "HTTP transport: " + failure_);
        return transport_->send(request, std::move(stop));
    }

private:
    std::once_flag made_;
    std::unique_ptr<HttpTransport> transport_;
    std::string failure_;
};

} // namespace

std::shared_ptr<HttpTransport> makeProgramHttpTransport() {
    return std::make_shared<ModuleHttpTransport>();
}

} // namespace nuvel
