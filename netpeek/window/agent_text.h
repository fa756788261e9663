// Texts that come from agents (and from the command line) are bytes in no known
// encoding. The window shows them as UTF-8 when they are valid UTF-8 and as
// Latin-1 otherwise, so that every byte shows as some character and nothing is
// replaced or lost; they are always shown as plain text, never as markup.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace torvane::netpeek {

QString agent_text(std::string_view bytes);

// The bytes to send for a text typed into the window: the original bytes when the
// text is unchanged from what agent_text showed for them, else its UTF-8.
std::string typed_bytes(const QString& typed, std::string_view shown_from);

}  // namespace torvane::netpeek
