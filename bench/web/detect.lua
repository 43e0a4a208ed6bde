-- The body a web page sends to detect the agent.
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/json"
wrk.body = '{"type":"web","lang":"en-US","guid":"bench","addr":"https://localhost","token":"t"}'
