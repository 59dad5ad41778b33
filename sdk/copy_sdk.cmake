# Script mode: cmake -DSDK_SOURCE=<sdk folder> -DSDK_HEADER=<tessivar.h>
#                    -DSDK_DESTINATION=<dir> -P copy_sdk.cmake
# Lays the SDK folder out in <dir> the same way tessivar_sdk_install does.
foreach(var SDK_SOURCE SDK_HEADER SDK_DESTINATION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "copy_sdk.cmake: ${var} is not set")
  endif()
endforeach()
file(MAKE_DIRECTORY ${SDK_DESTINATION}/include/tessivar)
file(COPY ${SDK_SOURCE}/README.md DESTINATION ${SDK_DESTINATION})
file(COPY ${SDK_HEADER} DESTINATION ${SDK_DESTINATION}/include/tessivar)
file(COPY ${SDK_SOURCE}/examples ${SDK_SOURCE}/python DESTINATION ${SDK_DESTINATION}
  PATTERN __pycache__ EXCLUDE
  PATTERN "*.pyc" EXCLUDE
  PATTERN "build*" EXCLUDE)
