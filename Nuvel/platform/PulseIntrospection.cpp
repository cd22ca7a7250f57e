#include "Nuvel/platform/PulseIntrospection.hpp"

#include <charconv>
#include <cstring>
#include <pulse/pulseaudio.h>
#include <unistd.h>

namespace nuvel {

namespace {

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

PulseSampleSpec spec(const pa_sample_spec& s) {
    const char* format = pa_sample_format_to_string(s.format);
    return PulseSampleSpec{text(format), s.rate, s.channels};
}

std::optional<std::string> property(const pa_proplist* list, const char* key) {
    if (list == nullptr)
        return std::nullopt;
    const char* value = pa_proplist_gets(list, key);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::int32_t> processID(const pa_proplist* list) {
    auto value = property(list, PA_PROP_APPLICATION_PROCESS_ID);
    if (!value)
        return std::nullopt;
    std::int32_t pid = 0;
    const char* end = value->data() + value->size();
    auto [ptr, error] = std::from_chars(value->data(), end, pid);
    if (error != std::errc() || ptr != end || pid <= 0)
        return std::nullopt;
    return pid;
}

PulseSourceInfo source(const pa_source_info& i) {
    return PulseSourceInfo{i.index, text(i.name), text(i.description), i.monitor_of_sink != PA_INVALID_INDEX,
                           spec(i.sample_spec)};
}

PulseSinkInfo sink(const pa_sink_info& i) {
    return PulseSinkInfo{i.index, text(i.name), text(i.description), text(i.monitor_source_name),
                         spec(i.sample_spec)};
}

PulseSinkInputInfo sinkInput(const pa_sink_input_info& i) {
    PulseSinkInputInfo info;
    info.index = i.index;
    info.sink = i.sink;
    info.processID = processID(i.proplist);
    info.applicationName = property(i.proplist, PA_PROP_APPLICATION_NAME).value_or("");
    info.processBinary = property(i.proplist, PA_PROP_APPLICATION_PROCESS_BINARY).value_or("");
    info.applicationID = property(i.proplist, PA_PROP_APPLICATION_ID);
    info.corked = i.corked != 0;
    info.sampleSpec = spec(i.sample_spec);
    return info;
}

// Collects the entries of a list reply; `found` tells a lookup by key that an entry came.
template <typename Info, typename Raw> struct Collector {
    std::vector<Info> items;
    Info (*convert)(const Raw&);

    static void callback(pa_context*, const Raw* raw, int eol, void* userdata) {
        auto* self = static_cast<Collector*>(userdata);
        if (eol == 0 && raw != nullptr)
            self->items.push_back(self->convert(*raw));
    }
};

// A lookup of one entry fails with "no such entity" when it does not exist: that is absence,
// not an error.
template <typename Info, typename Raw, typename Issue>
std::optional<Info> lookUp(PulseConnection& connection, Info (*convert)(const Raw&), Issue issue,
                           const char* what) {
    Collector<Info, Raw> collector{{}, convert};
    PulseConnection::Lock lock(connection);
    pa_operation* operation = issue(&Collector<Info, Raw>::callback, &collector);
    try {
        connection.await(operation, what);
    } catch (const PulseError& error) {
        if (error.kind() == PulseError::Case::failed && error.code() == PA_ERR_NOENTITY)
            return std::nullopt;
        throw;
    }
    if (collector.items.empty())
        return std::nullopt;
    return collector.items.front();
}

} // namespace

std::vector<PulseSourceInfo> listSources(PulseConnection& connection) {
    Collector<PulseSourceInfo, pa_source_info> collector{{}, source};
    PulseConnection::Lock lock(connection);
    connection.await(pa_context_get_source_info_list(connection.context(), collector.callback, &collector),
                     "list sources");
    return std::move(collector.items);
}

std::optional<PulseSourceInfo> sourceInfo(PulseConnection& connection, const std::string& name) {
    return lookUp(
        connection, source,
        [&](pa_source_info_cb_t callback, void* userdata) {
            return pa_context_get_source_info_by_name(connection.context(), name.c_str(), callback, userdata);
        },
        "source info");
}

std::optional<PulseSinkInfo> sinkInfo(PulseConnection& connection, std::uint32_t index) {
    return lookUp(
        connection, sink,
        [&](pa_sink_info_cb_t callback, void* userdata) {
            return pa_context_get_sink_info_by_index(connection.context(), index, callback, userdata);
        },
        "sink info");
}

std::optional<PulseSinkInfo> sinkInfo(PulseConnection& connection, const std::string& name) {
    return lookUp(
        connection, sink,
        [&](pa_sink_info_cb_t callback, void* userdata) {
            return pa_context_get_sink_info_by_name(connection.context(), name.c_str(), callback, userdata);
        },
        "sink info");
}

PulseServerInfo serverInfo(PulseConnection& connection) {
    struct Reply {
        PulseServerInfo info;
        static void callback(pa_context*, const pa_server_info* i, void* userdata) {
            if (i == nullptr)
                return;
            auto* self = static_cast<Reply*>(userdata);
            self->info = PulseServerInfo{text(i->default_source_name), text(i->default_sink_name)};
        }
    } reply;
    PulseConnection::Lock lock(connection);
    connection.await(pa_context_get_server_info(connection.context(), Reply::callback, &reply),
                     "server info");
    return reply.info;
}

std::optional<std::string> defaultSinkMonitorSourceName(PulseConnection& connection) {
    auto sinkFound = sinkInfo(connection, std::string("@DEFAULT_SINK@"));
    if (!sinkFound || sinkFound->monitorSourceName.empty())
        return std::nullopt;
    return sinkFound->monitorSourceName;
}

std::vector<PulseSinkInputInfo> listSinkInputs(PulseConnection& connection) {
    Collector<PulseSinkInputInfo, pa_sink_input_info> collector{{}, sinkInput};
    PulseConnection::Lock lock(connection);
    connection.await(
        pa_context_get_sink_input_info_list(connection.context(), collector.callback, &collector),
        "list sink inputs");
    return std::move(collector.items);
}

std::vector<PulseSinkInputInfo> sinkInputsOfOtherProcesses(PulseConnection& connection) {
    const std::int32_t own = static_cast<std::int32_t>(getpid());
    std::vector<PulseSinkInputInfo> result;
    for (auto& input : listSinkInputs(connection))
        if (input.processID != own)
            result.push_back(std::move(input));
    return result;
}

std::optional<PulseSinkInputInfo> sinkInputInfo(PulseConnection& connection, std::uint32_t index) {
    return lookUp(
        connection, sinkInput,
        [&](pa_sink_input_info_cb_t callback, void* userdata) {
            return pa_context_get_sink_input_info(connection.context(), index, callback, userdata);
        },
        "sink input info");
}

} // namespace nuvel
