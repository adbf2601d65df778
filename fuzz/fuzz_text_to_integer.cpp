// TextToInteger and ParseInteger against the integer rules written out
// plainly: the same texts accepted, the same values, both rule variants.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "errors_unit.h"
#include "fuzz_check.h"
#include "number_text_unit.h"
#include "reference_integer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int32_t> expected = reference::Integer(text, true);

    std::optional<std::int32_t> converted;
    try {
        converted = TextToInteger(text);
    } catch (const EConvertError& error) {
        // The text goes into the message as it is, even when it holds "%".
        Require(error.message == "'" + std::string(text) + "' is not a valid integer value",
                "the message of a bad integer quotes the text");
    }
    Require(converted == expected, "TextToInteger follows the integer rules");

    Require(ParseInteger(text, IntegerRules::kSignBeforeHexAllowed) == expected,
            "ParseInteger with a sign before hex allowed follows the rules");
    Require(
        ParseInteger(text, IntegerRules::kSignBeforeHexRejected) == reference::Integer(text, false),
        "ParseInteger with a sign before hex rejected follows the rules");
    return 0;
}
