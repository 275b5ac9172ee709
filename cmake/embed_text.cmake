# Writes a C++ source that returns the text of IN from a function named FUNCTION:
#   cmake -DIN=file -DOUT=file.cpp -DFUNCTION=Name -P embed_text.cmake
file(READ "${IN}" text)
file(WRITE "${OUT}" "// Generated from ${IN} by cmake/embed_text.cmake: do not edit.\n"
                    "const char* ${FUNCTION}() {\n    return R\"vorlo_text(${text})vorlo_text\";\n}\n")
