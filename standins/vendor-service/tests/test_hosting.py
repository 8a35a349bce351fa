"""Running on a real host: the caller's address behind a trusted reverse proxy."""
import unittest

from support import MAC, ServiceCase
from vendorsvc.server import forwarded_client


class ProxyTest(ServiceCase):
    def test_only_a_trusted_proxy_names_the_caller_and_the_remote_request_follows_that_address(self):
        proxy = ("127.0.0.1",)
        self.assertEqual("10.1.2.3", forwarded_client("127.0.0.1", {"X-Real-IP": " 10.1.2.3 "}, proxy))
        self.assertEqual("2001:db8::5", forwarded_client("127.0.0.1", {"X-Real-IP": "2001:db8::5"}, proxy))
        self.assertEqual("10.9.9.9", forwarded_client("10.9.9.9", {"X-Real-IP": "10.1.2.3"}, proxy))
        for named in ("", "10.1.2.3, 10.4.5.6", "a.example", "10.1.2.300"):
            self.assertEqual("127.0.0.1", forwarded_client("127.0.0.1", {"X-Real-IP": named}, proxy), named)
        # What the service does with the address it is given: the heartbeat's goes with the request.
        self.assertEqual(200, self.beat(client="10.1.2.3").status)
        self.service.store.put_remote_request(MAC, True, False, "pw", 0, False)
        self.assertEqual("", self.get("/tavrick/user/code.jsp", mac=MAC))  # the proxy's own address
        self.assertEqual("1,0,pw", self.call("/tavrick/user/code.jsp", client="10.1.2.3", mac=MAC).body.decode())


if __name__ == "__main__":
    unittest.main()
