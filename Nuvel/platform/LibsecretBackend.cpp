// No Qt here: GLib's headers clash with Qt's keywords.
#include "Nuvel/platform/LibsecretBackend.hpp"

#include "NuvelKit/store/FallbackSecretBackend.hpp"

#include <libsecret/secret.h>
#include <string>

namespace nuvel {
namespace {

const SecretSchema* schema() {
    static const SecretSchema s = {"com.getnuvel.Nuvel.GenericPassword",
                                   SECRET_SCHEMA_NONE,
                                   {
                                       {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                   },
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}

std::int32_t statusOf(GError* error) {
    std::int32_t status = keychainStatus::authFailed;
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR)
        status = keychainStatus::notAvailable;
    else if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED)
        status = keychainStatus::interactionNotAllowed;
    g_error_free(error);
    return status;
}

// Looks an item up: success with its bytes, itemNotFound, or the error's status.
std::int32_t lookup(const std::string& service, const std::string& account, Bytes* out) {
    GError* error = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(
        schema(), nullptr, &error, "service", service.c_str(), "account", account.c_str(), nullptr);
    if (error != nullptr)
        return statusOf(error);
    if (value == nullptr)
        return keychainStatus::itemNotFound;
    if (out != nullptr) {
        gsize length = 0;
        const gchar* data = secret_value_get(value, &length);
        out->assign(reinterpret_cast<const std::uint8_t*>(data),
                    reinterpret_cast<const std::uint8_t*>(data) + length);
    }
    secret_value_unref(value);
    return keychainStatus::success;
}

std::int32_t store(const std::string& service, const std::string& account, ByteView data) {
    SecretValue* value = secret_value_new(reinterpret_cast<const gchar*>(data.data()), gssize(data.size()),
                                          "application/octet-stream");
    std::string label = "Nuvel " + account;
    GError* error = nullptr;
    gboolean ok = secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value,
                                                    nullptr, &error, "service", service.c_str(), "account",
                                                    account.c_str(), nullptr);
    secret_value_unref(value);
    if (error != nullptr)
        return statusOf(error);
    return ok ? keychainStatus::success : keychainStatus::authFailed;
}

} // namespace

std::int32_t LibsecretBackend::copy(const std::string& service, const std::string& account, Bytes& out) {
    return lookup(service, account, &out);
}

std::int32_t LibsecretBackend::update(const std::string& service, const std::string& account, ByteView data) {
    std::int32_t status = lookup(service, account, nullptr);
    if (status != keychainStatus::success)
        return status;
    return store(service, account, data); // replaces the item with the same attributes
}

std::int32_t LibsecretBackend::add(const std::string& service, const std::string& account, ByteView data) {
    std::int32_t status = lookup(service, account, nullptr);
    if (status == keychainStatus::success)
        return keychainStatus::duplicateItem;
    if (status != keychainStatus::itemNotFound)
        return status;
    return store(service, account, data);
}

std::int32_t LibsecretBackend::remove(const std::string& service, const std::string& account) {
    GError* error = nullptr;
    gboolean removed = secret_password_clear_sync(schema(), nullptr, &error, "service", service.c_str(),
                                                  "account", account.c_str(), nullptr);
    if (error != nullptr)
        return statusOf(error);
    return removed ? keychainStatus::success : keychainStatus::itemNotFound;
}

bool LibsecretBackend::isAvailable() {
    std::int32_t status = lookup("com.getnuvel.probe", "probe", nullptr);
    return status == keychainStatus::success || status == keychainStatus::itemNotFound;
}

std::shared_ptr<SecretBackend> makeSystemSecretBackend() {
    return std::make_shared<FallbackSecretBackend>(
        std::make_shared<LibsecretBackend>(),
        std::make_shared<FileSecretBackend>(FileSecretBackend::standardLocation()));
}

} // namespace nuvel
