# libcups. Debian 12's libcups2-dev ships no pkg-config file, so ask cups-config.
find_program(CUPS_CONFIG cups-config REQUIRED)
execute_process(COMMAND ${CUPS_CONFIG} --libs OUTPUT_VARIABLE _cups_libs OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CUPS_CONFIG} --cflags OUTPUT_VARIABLE _cups_cflags OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CUPS_CONFIG} --serverbin OUTPUT_VARIABLE CUPS_SERVERBIN OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CUPS_CONFIG} --datadir OUTPUT_VARIABLE CUPS_DATADIR OUTPUT_STRIP_TRAILING_WHITESPACE)
separate_arguments(_cups_libs UNIX_COMMAND "${_cups_libs}")
separate_arguments(_cups_cflags UNIX_COMMAND "${_cups_cflags}")

add_library(vantora_cups INTERFACE)
target_link_libraries(vantora_cups INTERFACE ${_cups_libs})
target_compile_options(vantora_cups INTERFACE ${_cups_cflags})
