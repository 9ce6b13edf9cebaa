module quorlin

go 1.19
