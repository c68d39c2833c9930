// The HTTP library opened on first use: without it (or with a library that lacks its functions)
// every call fails safely and the failure is logged once; with it, option values reach the library
// only as the kind the option takes. No transfer is performed: nothing here touches the network.
#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/CurlLibrary.h"
#include "platform/foundation/Log.h"

namespace {

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

TEST(CurlLibrary, MissingLibraryOrFunctionLeavesEveryCallFailingSafely) {
  tw::LogCapture log;
  const tw::CurlLibrary absent("libtickwell-absent-curl.so.4");
  EXPECT_FALSE(absent.loaded());
  EXPECT_NE(absent.loadError().find("libtickwell-absent-curl.so.4"), std::string::npos);
  EXPECT_EQ(log.lines(),
            std::vector<std::string>{"libcurl could not be loaded: " + absent.loadError()});

  EXPECT_EQ(absent.easy_init(), nullptr);
  EXPECT_EQ(absent.url(), nullptr);
  EXPECT_EQ(absent.multi_init(), nullptr);
  EXPECT_EQ(absent.slist_append(nullptr, "Accept:"), nullptr);
  EXPECT_EQ(absent.easy_setopt(nullptr, CURLOPT_NOSIGNAL, 1L), CURLE_FAILED_INIT);
  EXPECT_EQ(absent.easy_setopt(nullptr, CURLOPT_URL, "http://127.0.0.1/"), CURLE_FAILED_INIT);
  EXPECT_EQ(absent.easy_setopt(nullptr, CURLOPT_WRITEFUNCTION, discard), CURLE_FAILED_INIT);
  long status = 0;
  EXPECT_EQ(absent.easy_getinfo(nullptr, CURLINFO_RESPONSE_CODE, &status), CURLE_FAILED_INIT);
  EXPECT_EQ(absent.easy_perform(nullptr), CURLE_FAILED_INIT);
  EXPECT_NE(absent.easy_strerror(CURLE_FAILED_INIT), nullptr);
  EXPECT_EQ(absent.url_set(nullptr, CURLUPART_URL, "http://127.0.0.1/", 0), CURLUE_OUT_OF_MEMORY);
  char* part = nullptr;
  EXPECT_EQ(absent.url_get(nullptr, CURLUPART_HOST, &part, 0), CURLUE_OUT_OF_MEMORY);
  int count = 0;
  EXPECT_EQ(absent.multi_add_handle(nullptr, nullptr), CURLM_INTERNAL_ERROR);
  EXPECT_EQ(absent.multi_perform(nullptr, &count), CURLM_INTERNAL_ERROR);
  EXPECT_EQ(absent.multi_poll(nullptr, nullptr, 0, 0, nullptr), CURLM_INTERNAL_ERROR);
  EXPECT_EQ(absent.multi_info_read(nullptr, &count), nullptr);
  EXPECT_EQ(absent.multi_wakeup(nullptr), CURLM_INTERNAL_ERROR);
  EXPECT_EQ(absent.multi_cleanup(nullptr), CURLM_INTERNAL_ERROR);
  absent.easy_cleanup(nullptr);
  absent.slist_free_all(nullptr);
  absent.url_cleanup(nullptr);
  absent.free(nullptr);

  // A library that opens but is not the HTTP library: the missing function is named.
  log.clear();
  const tw::CurlLibrary notCurl("libc.so.6");
  EXPECT_FALSE(notCurl.loaded());
  EXPECT_NE(notCurl.loadError().find("curl_global_init"), std::string::npos);
  EXPECT_EQ(notCurl.easy_init(), nullptr);
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST(CurlLibrary, OptionValuesReachTheLibraryOnlyAsTheKindTheOptionTakes) {
  ASSERT_TRUE(tw::CurlLibrary::shared().loaded()) << tw::CurlLibrary::shared().loadError();
  EXPECT_FALSE(tw::CurlLibrary::setLibraryNameForTesting("libtickwell-absent-curl.so.4"));
  CURL* easy = tw::curl::easy_init();
  ASSERT_NE(easy, nullptr);

  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_NOSIGNAL, 1L), CURLE_OK);
  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_MAXREDIRS, 3), CURLE_OK);  // an int, read as long
  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t{5}), CURLE_OK);
  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_URL, "http://127.0.0.1:9/x"), CURLE_OK);
  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard), CURLE_OK);
  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_WRITEFUNCTION, nullptr), CURLE_OK);
  // Out of the library's range for a long option: the library itself refuses it.
  EXPECT_NE(tw::curl::easy_setopt(easy, CURLOPT_MAXREDIRS, -2L), CURLE_OK);

  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_URL, 1L), CURLE_BAD_FUNCTION_ARGUMENT);
  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_NOSIGNAL, "1"), CURLE_BAD_FUNCTION_ARGUMENT);
  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_URL, discard), CURLE_BAD_FUNCTION_ARGUMENT);
  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, "5"),
            CURLE_BAD_FUNCTION_ARGUMENT);

  // A pointer set goes in and comes back unchanged; information of another type is refused.
  int marker = 0;
  EXPECT_EQ(tw::curl::easy_setopt(easy, CURLOPT_PRIVATE, &marker), CURLE_OK);
  char* stored = nullptr;
  EXPECT_EQ(tw::curl::easy_getinfo(easy, CURLINFO_PRIVATE, &stored), CURLE_OK);
  EXPECT_EQ(static_cast<void*>(stored), static_cast<void*>(&marker));
  long status = -1;
  EXPECT_EQ(tw::curl::easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status), CURLE_OK);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(tw::curl::easy_getinfo(easy, CURLINFO_PRIVATE, &status), CURLE_BAD_FUNCTION_ARGUMENT);
  double seconds = 0;
  EXPECT_EQ(tw::curl::easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &seconds),
            CURLE_BAD_FUNCTION_ARGUMENT);
  tw::curl::easy_cleanup(easy);

  CURLU* url = tw::curl::url();
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(tw::curl::url_set(url, CURLUPART_URL, "https://[::1]:8443/feed", 0), CURLUE_OK);
  char* host = nullptr;
  ASSERT_EQ(tw::curl::url_get(url, CURLUPART_HOST, &host, 0), CURLUE_OK);
  EXPECT_STREQ(host, "[::1]");
  tw::curl::free(host);
  tw::curl::url_cleanup(url);
}

}  // namespace
