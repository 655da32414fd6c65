#include "signal_message.h"

#include <json-glib/json-glib.h>

#include <memory>

namespace pppp {
namespace {

constexpr int kVersion = 1;
constexpr size_t kMaxCredential = 256;
constexpr size_t kMaxCandidate = 512;
constexpr size_t kMaxReason = 128;
constexpr int kMaxDepth = 4;

struct ObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using ParserPtr = std::unique_ptr<JsonParser, ObjectUnref>;
using BuilderPtr = std::unique_ptr<JsonBuilder, ObjectUnref>;
using GeneratorPtr = std::unique_ptr<JsonGenerator, ObjectUnref>;

const char *type_name(MessageType type)
{
    switch (type) {
    case MessageType::offer:
        return "offer";
    case MessageType::answer:
        return "answer";
    case MessageType::refuse:
        return "refuse";
    case MessageType::bye:
        return "bye";
    case MessageType::probe:
        return "probe";
    }
    return "";
}

bool type_from_name(const char *name, MessageType *type)
{
    for (MessageType t :
         {MessageType::offer, MessageType::answer, MessageType::refuse, MessageType::bye, MessageType::probe})
        if (g_strcmp0(name, type_name(t)) == 0) {
            *type = t;
            return true;
        }
    return false;
}

// The parser recurses per nesting level: refuse deep input before it runs.
bool shallow(const char *payload, size_t length)
{
    int depth = 0;
    bool in_string = false, escaped = false;
    for (size_t i = 0; i < length; ++i) {
        char c = payload[i];
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxDepth)
                return false;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return true;
}

bool text_ok(const char *text, size_t max_length, bool allow_space)
{
    if (text == nullptr)
        return false;
    size_t n = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p, ++n)
        if (n >= max_length || *p < 0x20 || *p >= 0x7f || (*p == ' ' && !allow_space))
            return false;
    return n > 0;
}

// A string member, or nullptr when it is missing or not a string.
const char *string_member(JsonObject *object, const char *name)
{
    JsonNode *node = json_object_get_member(object, name);
    if (node == nullptr || !JSON_NODE_HOLDS_VALUE(node) || json_node_get_value_type(node) != G_TYPE_STRING)
        return nullptr;
    return json_node_get_string(node);
}

bool digits(const std::string &text, size_t max_length)
{
    if (text.empty() || text.size() > max_length)
        return false;
    for (char c : text)
        if (!g_ascii_isdigit(c))
            return false;
    return true;
}

// The SDP candidate grammar, before libnice's parser sees the line:
// [a=]candidate:FOUNDATION COMPONENT TRANSPORT PRIORITY ADDRESS PORT typ TYPE
// followed by name-value pairs.
bool candidate_syntax(const char *line)
{
    std::string text = line;
    if (text.compare(0, 2, "a=") == 0)
        text.erase(0, 2);
    static const std::string prefix = "candidate:";
    if (text.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::vector<std::string> tokens;
    gchar **parts = g_strsplit(text.c_str() + prefix.size(), " ", -1);
    for (gchar **part = parts; *part != nullptr; ++part)
        if (**part != '\0')
            tokens.emplace_back(*part);
    g_strfreev(parts);
    if (tokens.size() < 8 || (tokens.size() - 8) % 2 != 0)
        return false;
    const std::string &transport = tokens[2], &type = tokens[7];
    return digits(tokens[1], 3) && (g_ascii_strcasecmp(transport.c_str(), "UDP") == 0) && digits(tokens[3], 10) &&
           digits(tokens[5], 5) && tokens[6] == "typ" &&
           (type == "host" || type == "srflx" || type == "prflx" || type == "relay");
}

bool decode_candidates(JsonObject *object, const char *name, std::vector<std::string> *out)
{
    JsonNode *node = json_object_get_member(object, name);
    if (node == nullptr || !JSON_NODE_HOLDS_ARRAY(node))
        return false;
    JsonArray *array = json_node_get_array(node);
    guint count = json_array_get_length(array);
    if (count > kMaxCandidatesPerComponent)
        return false;
    for (guint i = 0; i < count; ++i) {
        JsonNode *element = json_array_get_element(array, i);
        if (!JSON_NODE_HOLDS_VALUE(element) || json_node_get_value_type(element) != G_TYPE_STRING)
            return false;
        const char *candidate = json_node_get_string(element);
        if (!text_ok(candidate, kMaxCandidate, true))
            return false;
        if (!candidate_syntax(candidate))
            continue;  // a candidate we cannot use; the others may do
        out->emplace_back(candidate);
    }
    return true;
}

bool is_hex(const std::string &text)
{
    for (char c : text)
        if (!g_ascii_isxdigit(c) || g_ascii_isupper(c))
            return false;
    return true;
}

std::string generate(JsonBuilder *builder)
{
    GeneratorPtr generator(json_generator_new());
    JsonNode *root = json_builder_get_root(builder);
    json_generator_set_root(generator.get(), root);
    gchar *text = json_generator_to_data(generator.get(), nullptr);
    std::string result(text);
    g_free(text);
    json_node_unref(root);
    return result;
}

// Parses a JSON object of the right version; nullptr otherwise. The parser
// owns the object.
JsonObject *parse_object(JsonParser *parser, const char *payload, size_t length)
{
    if (payload == nullptr || length == 0 || length > kMaxMessageBytes || !shallow(payload, length))
        return nullptr;
    if (!json_parser_load_from_data(parser, payload, static_cast<gssize>(length), nullptr))
        return nullptr;
    JsonNode *root = json_parser_get_root(parser);
    if (root == nullptr || !JSON_NODE_HOLDS_OBJECT(root))
        return nullptr;
    JsonObject *object = json_node_get_object(root);
    JsonNode *version = json_object_get_member(object, "v");
    if (version == nullptr || !JSON_NODE_HOLDS_VALUE(version) || json_node_get_value_type(version) != G_TYPE_INT64 ||
        json_node_get_int(version) != kVersion)
        return nullptr;
    return object;
}

}  // namespace

bool valid_id(const std::string &id)
{
    if (id.empty() || id.size() > 64)
        return false;
    for (char c : id)
        if (!g_ascii_isalnum(c) && c != '-' && c != '_')
            return false;
    return true;
}

bool valid_session_token(const std::string &token)
{
    return token.size() == 32 && is_hex(token);
}

std::string encode_message(const SignalMessage &message)
{
    BuilderPtr builder(json_builder_new());
    JsonBuilder *b = builder.get();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "v");
    json_builder_add_int_value(b, kVersion);
    json_builder_set_member_name(b, "type");
    json_builder_add_string_value(b, type_name(message.type));
    json_builder_set_member_name(b, "session");
    json_builder_add_string_value(b, message.session.c_str());
    if (message.type == MessageType::offer) {
        json_builder_set_member_name(b, "from");
        json_builder_add_string_value(b, message.from.c_str());
    }
    if (message.type == MessageType::offer || message.type == MessageType::answer) {
        json_builder_set_member_name(b, "ufrag");
        json_builder_add_string_value(b, message.ice.ufrag.c_str());
        json_builder_set_member_name(b, "pwd");
        json_builder_add_string_value(b, message.ice.pwd.c_str());
        const char *names[kComponents] = {"c1", "c2"};
        for (size_t c = 0; c < kComponents; ++c) {
            json_builder_set_member_name(b, names[c]);
            json_builder_begin_array(b);
            for (const std::string &candidate : message.ice.candidates[c])
                json_builder_add_string_value(b, candidate.c_str());
            json_builder_end_array(b);
        }
    }
    if (message.type == MessageType::refuse) {
        json_builder_set_member_name(b, "reason");
        json_builder_add_string_value(b, message.reason.c_str());
    }
    json_builder_end_object(b);
    return generate(b);
}

bool decode_message(const char *payload, size_t length, SignalMessage *message)
{
    ParserPtr parser(json_parser_new());
    JsonObject *object = parse_object(parser.get(), payload, length);
    if (object == nullptr)
        return false;
    SignalMessage decoded;
    const char *type = string_member(object, "type");
    const char *session = string_member(object, "session");
    if (!type_from_name(type, &decoded.type) || session == nullptr || !valid_session_token(session))
        return false;
    decoded.session = session;
    if (decoded.type == MessageType::offer) {
        const char *from = string_member(object, "from");
        if (from == nullptr || !valid_id(from))
            return false;
        decoded.from = from;
    }
    if (decoded.type == MessageType::offer || decoded.type == MessageType::answer) {
        const char *ufrag = string_member(object, "ufrag");
        const char *pwd = string_member(object, "pwd");
        if (!text_ok(ufrag, kMaxCredential, false) || !text_ok(pwd, kMaxCredential, false))
            return false;
        decoded.ice.ufrag = ufrag;
        decoded.ice.pwd = pwd;
        if (!decode_candidates(object, "c1", &decoded.ice.candidates[0]) ||
            !decode_candidates(object, "c2", &decoded.ice.candidates[1]))
            return false;
    }
    if (decoded.type == MessageType::refuse) {
        const char *reason = string_member(object, "reason");
        if (reason != nullptr && text_ok(reason, kMaxReason, true))
            decoded.reason = reason;
    }
    *message = std::move(decoded);
    return true;
}

std::string encode_status(bool online)
{
    BuilderPtr builder(json_builder_new());
    JsonBuilder *b = builder.get();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "v");
    json_builder_add_int_value(b, kVersion);
    json_builder_set_member_name(b, "state");
    json_builder_add_string_value(b, online ? "online" : "offline");
    json_builder_end_object(b);
    return generate(b);
}

bool decode_status(const char *payload, size_t length, bool *online)
{
    ParserPtr parser(json_parser_new());
    JsonObject *object = parse_object(parser.get(), payload, length);
    if (object == nullptr)
        return false;
    const char *state = string_member(object, "state");
    if (g_strcmp0(state, "online") == 0)
        *online = true;
    else if (g_strcmp0(state, "offline") == 0)
        *online = false;
    else
        return false;
    return true;
}

}  // namespace pppp
