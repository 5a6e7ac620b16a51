# cmake -DSOURCE=file -DDIR=folder -DCOUNT=n -P copyModule.cmake: copies one module n times under
# distinct names, so that a process can load that many modules.
file(MAKE_DIRECTORY "${DIR}")
foreach(i RANGE 1 ${COUNT})
  file(COPY_FILE "${SOURCE}" "${DIR}/nullslot${i}.dll" ONLY_IF_DIFFERENT)
endforeach()
