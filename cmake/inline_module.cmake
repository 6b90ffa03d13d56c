# Puts an ES module's code into a page in place of the page's one line that imports it
# (import { ... } from "./NAME.js";), so a page served alone carries the module it uses.
file(READ ${PAGE} page)
file(READ ${MODULE} module)
get_filename_component(name ${MODULE} NAME)
string(REGEX MATCH "import {[^}]*} from \"\\./${name}\";" import "${page}")
if(NOT import)
  message(FATAL_ERROR "${PAGE} does not import ./${name}")
endif()
# The module becomes the text of a script element, which its first "</script" would end.
string(TOLOWER "${module}" lower)
string(FIND "${lower}" "</script" closing)
if(NOT closing EQUAL -1)
  message(FATAL_ERROR "${MODULE} holds \"</script\" and cannot go inside a script element")
endif()
string(REPLACE "${import}" "${module}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
