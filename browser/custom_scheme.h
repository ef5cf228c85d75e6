// The custom URL scheme that lets web pages start the product: its Classes key (per machine or per
// user) and Internet Explorer's ProtocolExecute key that turns off the warning before the hand-over.
#pragma once

#include <windows.h>

#include <string>

class CCustomScheme {
public:
    explicit CCustomScheme(const wchar_t* scheme);
    virtual ~CCustomScheme();

    std::wstring GetScheme() const { return scheme_; }
    // "Software\\Classes\\" + scheme.
    std::wstring GetClassesKey() const;
    // "Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\" + scheme.
    std::wstring GetProtocolExecuteKey() const;

    // True when the scheme key opens for reading under root.
    [[nodiscard]] bool IsRegistered(HKEY root) const;
    // Writes the scheme key and its command for handlerPath (null fails). Stops at the first failed write
    // and keeps what was written; the ProtocolExecute key does not change the result.
    [[nodiscard]] bool Register(HKEY root, const wchar_t* handlerPath);
    // Removes the scheme from both roots; true when it is registered under neither afterwards.
    [[nodiscard]] bool Unregister();
    bool RemoveFromRoot(HKEY root);
    // Deletes parent\subkey with everything below it; true when subkey itself was deleted.
    static bool DeleteKeyTree(HKEY parent, const wchar_t* subkey);
    // Creates (remove false) or deletes the ProtocolExecute key in the default view and, under WOW64,
    // in the 64-bit view too; true when every view succeeded.
    bool SetProtocolExecute(HKEY root, bool remove);
    bool EditProtocolExecuteKey(HKEY root, bool remove, bool view64);

private:
    std::wstring scheme_;
};

// The command stored under Shell\Open\Command: the handler path in quotes (unless it already starts
// with one), a blank and "%1" in quotes.
std::wstring FormatHandlerCommand(const wchar_t* handlerPath);

