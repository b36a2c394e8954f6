function exf(id, name, path) {}
function cmd_text() {}
