#pragma once

#include <curl/curl.h>

namespace fetch_detail {

/// Creates the transfer handle that stands for the client session of one fetch.
using CreateHandleFunction = CURL* (*)();

/// Replaces the function FetchPage creates its handle with and returns the one it replaces, so
/// that a test can make session creation fail and put the real one (curl_easy_init) back.
CreateHandleFunction ReplaceCreateHandle(CreateHandleFunction create);

} // namespace fetch_detail
