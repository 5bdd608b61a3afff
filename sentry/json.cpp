#include "sentry/json.h"

namespace corvantis::sentry {
namespace {

// nlohmann's own builder, stopped at the first array or object beyond the depth.
class DepthBoundBuilder {
 public:
  using Builder = nlohmann::detail::json_sax_dom_parser<Json>;
  using Integer = Json::number_integer_t;
  using Unsigned = Json::number_unsigned_t;
  using Float = Json::number_float_t;
  using String = Json::string_t;
  using Binary = Json::binary_t;

  DepthBoundBuilder(Json& result, std::size_t maxDepth)
      : builder_(result, /*allow_exceptions=*/false), maxDepth_(maxDepth) {}

  bool null() { return builder_.null(); }
  bool boolean(bool value) { return builder_.boolean(value); }
  bool number_integer(Integer value) { return builder_.number_integer(value); }
  bool number_unsigned(Unsigned value) { return builder_.number_unsigned(value); }
  bool number_float(Float value, const String& text) { return builder_.number_float(value, text); }
  bool string(String& value) { return builder_.string(value); }
  bool binary(Binary& value) { return builder_.binary(value); }
  bool key(String& value) { return builder_.key(value); }
  bool start_object(std::size_t size) { return Enter() && builder_.start_object(size); }
  bool end_object() {
    --depth_;
    return builder_.end_object();
  }
  bool start_array(std::size_t size) { return Enter() && builder_.start_array(size); }
  bool end_array() {
    --depth_;
    return builder_.end_array();
  }
  template <typename Exception>
  bool parse_error(std::size_t position, const std::string& token, const Exception& error) {
    return builder_.parse_error(position, token, error);
  }

 private:
  bool Enter() { return ++depth_ <= maxDepth_; }

  Builder builder_;
  std::size_t maxDepth_;
  std::size_t depth_ = 0;
};

}  // namespace

std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<Json> ParseJson(std::string_view text, std::size_t maxDepth) {
  Json result;
  DepthBoundBuilder builder(result, maxDepth);
  // The parser keeps its own stack of open arrays and objects rather than recursing.
  if (!Json::sax_parse(text.begin(), text.end(), &builder)) return std::nullopt;
  return result;
}

}  // namespace corvantis::sentry
