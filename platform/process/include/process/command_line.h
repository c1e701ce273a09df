#pragma once
// Splits one command-line text into arguments the way a Windows program's C run-time
// does, so command lines built for CreateProcess keep their meaning here.

#include <string>
#include <string_view>
#include <vector>

namespace avs::process {

// Rules (those of the Microsoft C run-time since 2008):
//  - Arguments are separated by runs of blanks and tabs outside double quotes.
//  - The first argument (the program) ends at the next blank or tab outside quotes; inside
//    it, quotes only toggle quoting and backslashes are plain characters.
//  - Elsewhere, 2n backslashes before a quote give n backslashes and the quote toggles
//    quoting; 2n+1 backslashes before a quote give n backslashes and a literal quote;
//    backslashes not followed by a quote are literal.
//  - Inside quotes, two quotes in a row give one literal quote and quoting goes on.
//  - "" on its own gives an empty argument.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

}  // namespace avs::process
