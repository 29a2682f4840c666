# Copies the model file SRC to DST when SRC exists; a missing model is
# reported by the program when it is needed, not by the build.
if(EXISTS "${SRC}")
  file(COPY_FILE "${SRC}" "${DST}" ONLY_IF_DIFFERENT)
else()
  file(REMOVE "${DST}")
endif()
