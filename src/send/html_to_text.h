// The plain-text rendering of an HTML text, used for the text alternative of an HTML body.
#pragma once

#include <cstddef>

#include "base/string.h"

namespace qarvel {

// Reads the HTML once from start to end and returns its text: white space collapsed outside
// <pre>, line ends ("\r\n") for line-breaking tags, headings and bold text in capitals, link
// targets in parentheses after the link text, images as "IMAGE alt src", the common entities
// decoded. Malformed HTML (unclosed tags, quotes or entities) gives a clean result.
String htmlToText(const char* html, size_t length);
inline String htmlToText(const String& html) { return htmlToText(html.c_str(), html.length()); }

} // namespace qarvel
