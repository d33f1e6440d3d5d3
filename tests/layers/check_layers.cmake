# The layer check: every source folder includes only folders below it, and
# the core folders include no Qt, and only history/ includes SQLite. Run as a script:
#   cmake -DSOURCE_DIR=<tree> -P check_layers.cmake
# It lists every offending include and fails when there is one.
#
# Bottom to top: platform, market, analytics, results, history, scan, then the top
# layer of ui, platform/qt and tools. The Qt implementations of the seams in
# platform/qt implement interfaces of several layers, so they sit on top;
# they do not include ui/.

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(layer_platform 0)
set(layer_market 1)
set(layer_analytics 2)
set(layer_results 3)
set(layer_history 4)
set(layer_scan 5)
set(layer_top 6)
set(core_folders platform market analytics results history scan)

# The layer of a path relative to the tree ("market/quote.h", "ui"), or -1
# for folders outside the layers (tests, fuzz, bench).
function(layer_of path out)
    if(path MATCHES "^platform/qt(/|$)" OR path MATCHES "^(ui|tools|sim)(/|$)")
        set(${out} ${layer_top} PARENT_SCOPE)
    elseif(path MATCHES "^(platform|market|analytics|results|history|scan)(/|$)")
        set(${out} ${layer_${CMAKE_MATCH_1}} PARENT_SCOPE)
    else()
        set(${out} -1 PARENT_SCOPE)
    endif()
endfunction()

set(offences "")
set(checked 0)
foreach(folder platform market analytics results history scan ui tools sim)
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
            if(target MATCHES "^sqlite3" AND NOT source MATCHES "^history/")
                string(APPEND offences "  ${source}: SQLite outside history/: ${target}\n")
                continue()
            endif()
            layer_of(${target} theirs)
            if(theirs LESS 0)
                continue()
            endif()
            if(theirs GREATER own)
                string(APPEND offences "  ${source}: includes ${target} from a layer above\n")
            elseif(source MATCHES "^platform/qt/" AND target MATCHES "^ui/")
                string(APPEND offences "  ${source}: includes ${target}\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(offences)
    message(FATAL_ERROR "Includes against the layers:\n${offences}")
endif()
message(STATUS "layers: ${checked} files, every include goes down or across")
