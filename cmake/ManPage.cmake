# Writes one program's man page, gzipped, from its --help and --version:
#
#   cmake -DHELP2MAN=... -DGZIP=... -DPROGRAM=path/to/prog -DSUMMARY="..."
#         -DOUTPUT=prog.1 -DINCLUDE_DIR=res/linux -P ManPage.cmake
#
# INCLUDE_DIR/<prog>.h2m adds the hand-written sections. A program with
# subcommands gets a COMMANDS section with each subcommand's own --help.
cmake_minimum_required(VERSION 3.25)

# The dialog prints its help without a display.
set(ENV{QT_QPA_PLATFORM} offscreen)
get_filename_component(name "${PROGRAM}" NAME_WE)

execute_process(COMMAND "${PROGRAM}" --help
    OUTPUT_VARIABLE help RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name} --help failed (${status}): ${errors}")
endif()

# Subcommands are listed one to a line, indented, after "Subcommands:".
set(commands)
string(REPLACE ";" "\\;" escaped "${help}")
string(REPLACE "\n" ";" lines "${escaped}")
set(in_list OFF)
foreach(line IN LISTS lines)
    if(line MATCHES "^[A-Za-z].*:$")
        string(TOLOWER "${line}" heading)
        set(in_list OFF)
        if(heading STREQUAL "subcommands:")
            set(in_list ON)
        endif()
    elseif(in_list AND line MATCHES "^  ([a-z][a-z0-9-]*)( |$)")
        list(APPEND commands ${CMAKE_MATCH_1})
    endif()
endforeach()

set(includes)
if(commands)
    set(generated "${OUTPUT}.h2m")
    list(APPEND includes "--include=${generated}")
    file(WRITE "${generated}" "[COMMANDS]\n")
    foreach(command IN LISTS commands)
        execute_process(COMMAND "${PROGRAM}" ${command} --help
            OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_VARIABLE errors)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "${name} ${command} --help failed (${status}): ${errors}")
        endif()
        # Paragraphs at the end that the main help already has (the footer)
        # are left out.
        string(REGEX REPLACE "\n+$" "" text "${text}")
        while(TRUE)
            string(FIND "${text}" "\n\n" at REVERSE)
            if(at LESS 0)
                break()
            endif()
            math(EXPR tail_at "${at} + 2")
            string(SUBSTRING "${text}" ${tail_at} -1 tail)
            string(FIND "${help}" "${tail}" seen)
            if(seen LESS 0)
                break()
            endif()
            string(SUBSTRING "${text}" 0 ${at} text)
        endwhile()
        # Shown as typed: the program by its name, backslashes escaped, no
        # line read as a roff request.
        string(REPLACE "${PROGRAM}" "${name}" text "${text}")
        string(REPLACE "\\" "\\e" text "${text}")
        string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
        file(APPEND "${generated}" ".SS ${command}\n.nf\n${text}\n.fi\n")
    endforeach()
endif()

execute_process(
    COMMAND "${HELP2MAN}" --no-info --section=1 "--name=${SUMMARY}"
            ${includes} "--include=${INCLUDE_DIR}/${name}.h2m"
            "--output=${OUTPUT}" "${PROGRAM}"
    RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man ${name} failed (${status}): ${errors}")
endif()
execute_process(COMMAND "${GZIP}" -9nf "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${OUTPUT} failed (${status})")
endif()
