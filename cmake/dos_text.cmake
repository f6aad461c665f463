# cmake -DINPUT=FILE -DOUTPUT=FILE -P dos_text.cmake
# Copies a text file with every line ended by CR LF (lines that already end
# so keep one CR), for the readers of the Windows package.
file(READ "${INPUT}" Text)
string(REPLACE "\r\n" "\n" Text "${Text}")
string(REPLACE "\n" "\r\n" Text "${Text}")
file(WRITE "${OUTPUT}" "${Text}")
