// What import does with each glTF extension: the one list of those it
// understands and of those it leaves aside.
#pragma once

#include <string>
#include <vector>

enum class ExtensionUse {
    Understood,  // read and followed
    LeftAside,   // concerns only what import leaves out (lights, shading): a note
    Unknown,     // refused where required; where not, the file is read without it, with a note
};

ExtensionUse extension_use(const std::string& name);

// The notes on a file's extensions (`used`, with those in `required`):
// one naming those left aside, one naming the unknown optional ones. An
// unknown required one ends the run with RunEnd naming it.
std::vector<std::string> extension_notes(const std::vector<std::string>& used, const std::vector<std::string>& required,
                                         const std::string& path);

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& names);
