# The layer check: every source folder includes only folders below it (or
# its own layer), the folders below the top include no Qt, only history/
# includes SQLite, only ingest/ libcsv, only fetch/ simdjson and libcurl, and
# only sim/ OpenSSL (the tests, outside the layers, may include it too). Run
# as a script:
#   cmake -DSOURCE_DIR=<tree> -P check_layers.cmake
# It lists every offending include and fails when there is one.
#
# Bottom to top: platform, market, analytics, results, history, charts,
# scan, ingest, fetch, sim, then the top layer of ui (with ui/qt, the Qt
# implementations of the platform interfaces, which do not include the rest
# of ui/) and apps, the programs.

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(layer_platform 0)
set(layer_market 1)
set(layer_analytics 2)
set(layer_results 3)
set(layer_history 4)
set(layer_charts 5)
set(layer_scan 6)
set(layer_ingest 7)
set(layer_fetch 8)
set(layer_sim 9)
set(layer_top 10)

# The libraries one folder alone includes: the include's pattern, the
# folder, the library's name.
set(library_rules
    "^sqlite3|history|SQLite"
    "^csv\\.h$|ingest|libcsv"
    "^simdjson|fetch|simdjson"
    "^curl/|fetch|libcurl"
    "^openssl/|sim|OpenSSL")
set(folders platform market analytics results history charts scan ingest fetch sim ui apps)

# The layer of a path relative to the tree ("market/quote.h", "ui"), or -1
# for folders outside the layers (tests, fuzz, bench).
function(layer_of path out)
    if(path MATCHES "^(ui|apps)(/|$)")
        set(${out} ${layer_top} PARENT_SCOPE)
    elseif(path MATCHES "^(platform|market|analytics|results|history|charts|scan|ingest|fetch|sim)(/|$)")
        set(${out} ${layer_${CMAKE_MATCH_1}} PARENT_SCOPE)
    else()
        set(${out} -1 PARENT_SCOPE)
    endif()
endfunction()

set(offences "")
set(checked 0)
foreach(folder IN LISTS folders)
    file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
         ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
    foreach(source IN LISTS sources)
        math(EXPR checked "${checked} + 1")
        layer_of(${source} own)
        set(core FALSE)
        if(own LESS ${layer_top})
            set(core TRUE)
        endif()
        file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*$" "\\1"
                   target "${line}")
            if(core AND target MATCHES "^Q[A-Za-z]*(/|$)|^Qt[A-Za-z]*/")
                string(APPEND offences "  ${source}: Qt in the core: ${target}\n")
                continue()
            endif()
            set(library_offence "")
            foreach(rule IN LISTS library_rules)
                string(REPLACE "|" ";" rule "${rule}")
                list(GET rule 0 pattern)
                list(GET rule 1 folder)
                list(GET rule 2 name)
                if(target MATCHES "${pattern}" AND NOT source MATCHES "^${folder}/")
                    set(library_offence "${name} outside ${folder}/")
                endif()
            endforeach()
            if(library_offence)
                string(APPEND offences "  ${source}: ${library_offence}: ${target}\n")
                continue()
            endif()
            layer_of(${target} theirs)
            if(theirs LESS 0)
                continue()
            endif()
            if(theirs GREATER own)
                string(APPEND offences "  ${source}: includes ${target} from a layer above\n")
            elseif(source MATCHES "^ui/qt/" AND target MATCHES "^ui/" AND NOT target MATCHES "^ui/qt/")
                string(APPEND offences "  ${source}: includes ${target}\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(offences)
    message(FATAL_ERROR "Includes against the layers:\n${offences}")
endif()
message(STATUS "layers: ${checked} files, every include goes down or across")
