#include "api_routes.h"

#include "arguments.h"
#include "section_values.h"
#include "spectrum_file.h"
#include "stored_configs.h"

namespace quillon::cli::serve {
namespace {

constexpr long kMaxPosition = kMaxConfigs - 1;
const char* const kLampModes = "lamp must be \"on\", \"off\" or \"keep\"";
const char* const kQuantities = "quantity must be \"intensity\", \"reflectance\" or \"absorbance\"";

// A text field of a request body, or nothing when it is absent or not a text.
std::optional<std::string> textField(const Json& body, const char* key) {
    auto it = body.find(key);
    if (it == body.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// A whole number in [minimum, maximum]; `fallback` when absent.
std::optional<long> countField(const Json& body, const char* key, long minimum, long maximum,
                               std::optional<long> fallback) {
    auto it = body.find(key);
    if (it == body.end()) return fallback;
    if (!it->is_number_integer()) return std::nullopt;
    const long value = it->get<long>();
    if (value < minimum || value > maximum) return std::nullopt;
    return value;
}

// "lamp": on for the scans and back after them (as `quillon scan`, the
// default), off for them, or keep.
std::optional<LampPolicy> lampField(const Json& body) {
    if (!body.contains("lamp")) return LampPolicy::On;
    const std::optional<std::string> mode = textField(body, "lamp");
    return mode ? lampPolicyNamed(*mode) : std::nullopt;
}

std::optional<Quantity> quantityField(const Json& body) {
    if (!body.contains("quantity")) return Quantity::Intensity;
    for (Quantity q : {Quantity::Intensity, Quantity::Reflectance, Quantity::Absorbance})
        if (body["quantity"] == namesOf(q).key) return q;
    return std::nullopt;
}

std::string queryValue(const ApiRequest& request, const char* key) {
    auto it = request.query.find(key);
    return it == request.query.end() ? std::string() : it->second;
}

}  // namespace

std::optional<Json> bodyObject(const std::string& body, std::string& why) {
    why = "the request body must be one JSON object ({} when empty), nothing after it";
    if (body.find('\0') != std::string::npos) return std::nullopt;
    Json parsed = Json::parse(body, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
    return parsed;
}

ModuleService* ApiRoutes::moduleOf(const std::map<std::string, std::string>& query) const {
    auto it = query.find("module");
    unsigned long index = 0;
    if (it != query.end() && !parseUnsigned(it->second, 0, 255, index)) return nullptr;
    return index < modules_.size() ? modules_[index] : nullptr;
}

void ApiRoutes::handle(const ApiRequest& request, const std::function<void(Reply)>& done) {
    ModuleService* module = moduleOf(request.query);
    if (module == nullptr)
        return done(errorReply(404, "no such module; GET /api/modules lists the " +
                                        std::to_string(modules_.size()) + " served"));
    if (request.method == "POST") {
        std::string why;
        const std::optional<Json> body = bodyObject(request.body, why);
        if (!body) return done(errorReply(400, why));
        return post(*module, request.path, *body, done);
    }
    if (request.method != "GET" && request.method != "HEAD")
        return done(errorReply(405, "use GET or POST"));
    if (request.path == "/api/modules") {
        Json list = Json::array();
        for (size_t i = 0; i < modules_.size(); ++i) {
            Json entry = modules_[i]->identity();
            entry["module"] = i;
            list.push_back(entry);
        }
        return done(jsonReply(list));
    }
    get(*module, request, done);
}

void ApiRoutes::get(ModuleService& module, const ApiRequest& request,
                    const std::function<void(Reply)>& done) {
    const std::string& path = request.path;
    if (path == "/api/module") return done(jsonReply(module.state()));
    if (path == "/api/configurations") return done(jsonReply(module.configurations()));
    if (path == "/api/tables") return done(jsonReply(module.tables()));
    if (path == "/api/spectra")
        return done(Reply{
            200,
            module.measurement().spectra().dump(-1, ' ', false, Json::error_handler_t::replace),
            "application/json", ""});
    if (path == "/api/download")
        return done(module.measurement().download(queryValue(request, "spectrum"),
                                                  queryValue(request, "format")));
    if (path == "/api/max-patterns") {
        unsigned long startNm = 0, endNm = 0;
        if (!parseUnsigned(queryValue(request, "start_nm"), 0, 65535, startNm) ||
            !parseUnsigned(queryValue(request, "end_nm"), 0, 65535, endNm))
            return done(errorReply(400, "start_nm and end_nm must be whole nanometres"));
        if (auto why = checkRange(static_cast<unsigned>(startNm), static_cast<unsigned>(endNm)))
            return done(errorReply(400, *why));
        const std::string width = queryValue(request, "width");
        double value = 0;
        if (!parseFiniteDouble(width, value))
            return done(errorReply(400, "width must be a number"));
        if (!widthIndexOf(value))
            return done(errorReply(
                400, "width " + width + " is not a pattern width; " + nearestWidths(value)));
        const std::string type = queryValue(request, "type");
        const std::optional<unsigned> scanType = scanTypeNamed(type);
        if (!scanType)
            return done(errorReply(400, "unknown scan type '" + type + "' (Column or Hadamard)"));
        return module.maxPatterns(static_cast<unsigned>(startNm), static_cast<unsigned>(endNm),
                                  value, *scanType, done);
    }
    done(errorReply(404, "no such path"));
}

void ApiRoutes::post(ModuleService& module, const std::string& path, const Json& body,
                     const std::function<void(Reply)>& done) {
    Measurement& measurement = module.measurement();
    if (path == "/api/scan" || path == "/api/series") {
        const std::optional<LampPolicy> lamp = lampField(body);
        if (!lamp) return done(errorReply(400, kLampModes));
        const std::optional<Quantity> quantity = quantityField(body);
        if (!quantity) return done(errorReply(400, kQuantities));
        if (path == "/api/scan") return measurement.scan(*lamp, *quantity, done);
        const std::optional<long> count = countField(body, "count", 0, 1000000, 0);
        if (!count) return done(errorReply(400, "count must be 0 (until stopped) to 1000000"));
        double interval = 0;
        if (auto it = body.find("interval_s"); it != body.end()) {
            if (!it->is_number() || it->get<double>() < 0 || it->get<double>() > 86400)
                return done(errorReply(400, "interval_s must be seconds from 0 to 86400"));
            interval = it->get<double>();
        }
        return done(measurement.startSeries(static_cast<unsigned long>(*count), interval, *lamp,
                                            *quantity));
    }
    if (path == "/api/series/stop") return done(measurement.stopSeries());
    if (path == "/api/dark") return measurement.capture(Kept::Dark, done);
    if (path == "/api/reference") return measurement.capture(Kept::Reference, done);
    if (path == "/api/dark/file" || path == "/api/reference/file")
        return done(loadFile(module, path, body));
    if (path == "/api/lamp") {
        auto on = body.find("on");
        if (on == body.end() || !on->is_boolean())
            return done(errorReply(400, "say {\"on\": true} or {\"on\": false}"));
        return module.switchLamp(on->get<bool>(), done);
    }
    if (path == "/api/activate") {
        const std::optional<long> position = countField(body, "position", 0, kMaxPosition, {});
        if (!position)
            return done(errorReply(400, "position must be a stored position from 0 to " +
                                            std::to_string(kMaxPosition)));
        return module.activate(static_cast<size_t>(*position), done);
    }
    if (path == "/api/configurations") {
        Reply refused = addConfiguration(module, body, done);
        if (refused.status != 0) done(refused);
        return;
    }
    if (path == "/api/configurations/remove") {
        const std::optional<std::string> name = textField(body, "name");
        if (!name) return done(errorReply(400, "say which configuration: {\"name\": \"...\"}"));
        return module.removeConfiguration(*name, done);
    }
    done(errorReply(404, "no such path"));
}

// A status of 0 when the request went to the module and `done` will be called.
Reply ApiRoutes::addConfiguration(ModuleService& module, const Json& body,
                                  const std::function<void(Reply)>& done) {
    const std::optional<std::string> name = textField(body, "name");
    if (!name) return errorReply(400, "a configuration needs a \"name\" text");
    if (auto why = checkConfigName(*name)) return errorReply(400, *why);
    const std::optional<long> repeats = countField(body, "repeats", 1, 65535, 1);
    if (!repeats) return errorReply(400, "repeats must be a count from 1 to 65535");
    auto given = body.find("sections");
    if (given == body.end() || !given->is_array() || given->empty() || given->size() > kMaxSections)
        return errorReply(400, "sections must be a list of one to five sections");
    static const std::pair<const char*, const char*> kKeys[] = {
        {"type", "type"},   {"start_nm", "start"},    {"end_nm", "end"},
        {"width", "width"}, {"patterns", "patterns"}, {"exposure", "exposure"}};
    std::vector<SectionRequest> sections(given->size());
    for (size_t i = 0; i < given->size(); ++i) {
        const Json& section = (*given)[i];
        const std::string which = "section " + std::to_string(i + 1) + ": ";
        if (!section.is_object()) return errorReply(400, which + "not an object");
        std::map<std::string, std::string> fields;
        for (const auto& [key, field] : kKeys) {
            auto value = section.find(key);
            if (value == section.end()) continue;
            if (value->is_string())
                fields[field] = value->get<std::string>();
            else if (value->is_number())
                fields[field] = value->dump();
            else
                return errorReply(400, which + key + " must be a number or a text");
        }
        if (auto why = sectionFromFields(fields, sections[i])) return errorReply(400, which + *why);
    }
    if (auto why = checkSections(sections)) return errorReply(400, *why);
    module.addConfiguration(*name, std::move(sections), static_cast<unsigned>(*repeats), done);
    return Reply{0, "", "", ""};
}

Reply ApiRoutes::loadFile(ModuleService& module, const std::string& path, const Json& body) {
    const std::optional<std::string> text = textField(body, "text");
    if (!text) return errorReply(400, "send the file's text as {\"text\": ..., \"name\": ...}");
    const std::string name = textField(body, "name").value_or("uploaded file");
    Spectrum spectrum;
    std::string why;
    if (!parseSpectrumText(*text, spectrum, why))
        return errorReply(400, "cannot use '" + name + "': " + why);
    return module.measurement().load(path == "/api/dark/file" ? Kept::Dark : Kept::Reference,
                                     spectrum, name);
}

}  // namespace quillon::cli::serve
