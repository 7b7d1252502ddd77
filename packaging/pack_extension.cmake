# Packs the browser extension as a signed CRX with the project's key:
#   cmake -DCHROMIUM=... -DSOURCE=DIR -DKEY=PEM -DOUTPUT=FILE.crx -DWORK=DIR -P pack_extension.cmake
# Chromium packs a directory into DIR.crx beside it, so the sources are copied into WORK first.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/profile)
# Only what the browser runs: the extension's own tests stay out.
file(COPY ${SOURCE}/ DESTINATION ${WORK}/ruzazuv PATTERN test EXCLUDE PATTERN "*.test.*" EXCLUDE)
execute_process(
  COMMAND ${CHROMIUM} --headless --no-sandbox --user-data-dir=${WORK}/profile
          --pack-extension=${WORK}/ruzazuv --pack-extension-key=${KEY}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 120)
if(NOT EXISTS ${WORK}/ruzazuv.crx)
  message(FATAL_ERROR "chromium did not pack the extension (${result}):\n${output}")
endif()
file(COPY_FILE ${WORK}/ruzazuv.crx ${OUTPUT})
file(REMOVE_RECURSE ${WORK})
