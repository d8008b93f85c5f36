// Writes the bash completion of qarvel from its option and key tables, at build time, into
// the file named by the one argument.
#include <cstdio>
#include <set>
#include <string>

#include "config/command_line.h"

namespace {

// Value options whose value is a file or a folder: their values complete as paths.
const std::set<std::string> kPathOptions = {
    "-a:", "-alias:", "-alt:", "-cafile:", "-cert:", "-config:", "-extract:", "-fetch:", "-file:",
    "-harvest:", "-host:", "-key:", "-log:", "-meter:", "-post:", "-rmfile:", "-sfile:",
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) return 1;
    std::string options = "--help --version", paths;
    for (const std::string& name : qarvel::optionNames()) {
        options += " " + name;
        if (kPathOptions.count(name)) paths += (paths.empty() ? "" : "|") + name + "*";
    }
    std::fprintf(out,
                 "# bash completion for qarvel; generated from its option table, do not edit.\n"
                 "_qarvel() {\n"
                 "    # The word as typed: bash splits words at \":\", which every value option holds.\n"
                 "    local line=${COMP_LINE:0:COMP_POINT}\n"
                 "    local cur=${line##*[[:space:]]}\n"
                 "    local -a found\n"
                 "    case $cur in\n"
                 "        %s)\n"
                 "            local option=${cur%%%%:*}:\n"
                 "            found=( $(compgen -f -- \"${cur#*:}\") )\n"
                 "            found=( \"${found[@]/#/$option}\" ) ;;\n"
                 "        -*) found=( $(compgen -W '%s' -- \"$cur\") ) ;;\n"
                 "        *) found=( $(compgen -f -- \"$cur\") ) ;;\n"
                 "    esac\n"
                 "    # bash replaces only the part after the last \":\" of the word.\n"
                 "    local typed=${cur%%\"${cur##*:}\"}\n"
                 "    COMPREPLY=( \"${found[@]#\"$typed\"}\" )\n"
                 "    [[ ${#found[@]} -eq 1 && ${found[0]} == *: ]] && compopt -o nospace\n"
                 "}\n"
                 "complete -F _qarvel qarvel\n",
                 paths.c_str(), options.c_str());
    return std::fclose(out) == 0 ? 0 : 1;
}
