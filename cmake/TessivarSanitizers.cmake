# Applies TESSIVAR_SANITIZER to every target of the tree. "address" means ASan with
# UBSan; "thread" means TSan. Both need frame pointers for readable reports.
if(TESSIVAR_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TESSIVAR_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TESSIVAR_SANITIZER STREQUAL "none")
  message(FATAL_ERROR "TESSIVAR_SANITIZER must be none, address or thread")
endif()
