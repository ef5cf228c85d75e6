// The dialog page's resources in the program's own module: the HTML page and its "BINARY" images.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace page_resources {

// Bytes of a resource of the module (nullptr module: the program's own file). Empty when missing.
std::string ReadResource(HMODULE module, const wchar_t* type, const wchar_t* name);
// The HTML resource (RT_HTML) as UTF-16 text (the page is UTF-8). Empty when missing.
std::wstring ReadHtmlPage(HMODULE module, UINT htmlId);

// Every value of an id="..." attribute in the page, in order.
std::vector<std::wstring> ElementIds(const std::wstring& html);
// The text inside the element with that id up to its first tag (entities &amp; &lt; &gt; &quot;
// &nbsp; decoded), trimmed; empty when the element is missing.
std::wstring ElementText(const std::wstring& html, const wchar_t* id);
// The page's address in the browser control: res://<module path>/<id>. Image addresses of the page
// ("BINARY/NAME") resolve against it to the module's "BINARY" resources.
std::wstring PageUrl(HMODULE module, UINT htmlId);

}  // namespace page_resources
